// The main window: owns the model, the sample buffer, the displays, the
// recorder and the link for the whole run. Everything here runs on the
// window's thread; the link hands completed cycles over as posted events
// (see link/comm_thread.h).
#pragma once

#include "app/ImageView.h"
#include "config/model.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

class QPushButton;
class QScrollArea;
class QTabWidget;
class QWheelEvent;

namespace kovra {

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // programFolder: set.ini, log.sv and logs/; workingFolder: lang/,
    // alarm.wav, back.jpg, icons/.
    TForm1(std::filesystem::path programFolder, std::filesystem::path workingFolder,
           QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, by their design names (also their objectNames).
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QScrollArea* ScrollBox2 = nullptr;
    ImageView* Image1 = nullptr;
    ImageView* Image2 = nullptr;
    ImageView* Image3 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

    TSettings& Settings() { return settings_; }
    TAllData& Data() { return settings_.Data; }
    std::vector<std::uint8_t>& SampleBuffer() { return sample_; }

    void FormCreate();
    void TabSheet2Resize();
    // Returns whether the event was handled (it never is).
    bool ScrollBox1MouseWheel(int wheelDelta);
    void Button1Click();

    // The window's client size of the design.
    static constexpr int kClientWidth = 842;
    static constexpr int kClientHeight = 504;

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // Shutdown: returns false when the close must be abandoned.
    bool FormClose();
    void BuildLayout();
    void PlaceButtons();
    void ShowError(const QString& message);

    // Start-up steps that reach into other subsystems, in their order.
    void CompileFormulas();
    void CreateStripCharts();
    void ApplyLanguage();
    void CreatePanelPictures();
    void StartLink();
    void RestoreSums(bool& ok);
    void SendFirstRequest();

    std::filesystem::path programFolder_;
    std::filesystem::path workingFolder_;
    TSettings settings_;
    std::vector<std::uint8_t> sample_;
    double LastCycleTime = 0;
    QImage PanelBackground;
    QImage PanelFrame;
    bool created_ = false;
};

// The time of day now, as a fraction of a day.
double TimeOfDayNow();

}  // namespace kovra
