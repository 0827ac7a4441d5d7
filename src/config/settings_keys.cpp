#include "config/settings_keys.h"

#include "config/cp1251.h"

#include <string_view>

namespace kovra {

namespace {

// The names are written here in UTF-8 for the reader's sake and stored in CP1251.
std::string C(std::u8string_view utf8)
{
    return Utf8ToCp1251(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

TSettingsKeys MakeKeys()
{
    TSettingsKeys k;
    k.General = C(u8"настройки");
    k.FullScreen = C(u8"на_весь_экран");
    k.PanelColor = C(u8"цвет_фона");
    k.ObdMode = C(u8"вид_ОБД");
    k.ReplyTimeout = C(u8"таймаут_отв");
    k.AreaCount = C(u8"кол-во_областей");
    k.FormulaCount = C(u8"кол-во_формул");
    k.LoggerCount = C(u8"кол-во_логов");
    k.ChartTextColor = C(u8"цвет_шрифта");
    k.ChartTextHeight = C(u8"размер_шрифта");
    k.GaugeCount = C(u8"кол-во_приборов");
    k.Language = C(u8"язык");
    k.MomentFormula = C(u8"Момент_Формула");
    k.MomentChart = C(u8"Момент_Х");
    k.MomentYMax = C(u8"Момент_У_макс");
    k.DoubleBuffered = C(u8"буферизация_экрана");
    k.PortName = C(u8"порт");
    k.Preamble = C(u8"преамбула");
    k.AutoStartLog = C(u8"авто_старт_логов");

    k.Areas = C(u8"области");
    k.AreaAddress = C(u8"смещение_");
    k.AreaLength = C(u8"размер_");

    k.FormulaSection = C(u8"формула_");
    k.FormulaName = C(u8"название");
    k.Accumulate = C(u8"суммировать");
    k.VarCount = C(u8"кол-во_перем");
    k.FormulaText = C(u8"формула");
    k.DefaultFormulaName = C(u8"Формула");
    k.VarName = C(u8"переменная_");
    k.VarKind = C(u8"вид_");
    k.VarArea = C(u8"область_пер_");
    k.VarOffset = C(u8"отступ_пер_");
    k.VarIsBit = C(u8"бит_");
    k.VarBitNumber = C(u8"номер_бита_");
    k.VarFormula = C(u8"номер_формулы_");
    k.DefaultVarName = C(u8"Переменная");

    k.LoggerSection = C(u8"логер_");
    k.LoggerHeight = C(u8"высота");
    k.LoggerFormula = C(u8"формула");
    k.LoggerLabel = C(u8"название");
    k.LoggerMax = C(u8"макс_знач");
    k.LoggerMin = C(u8"мин_знач");
    k.LoggerColor = C(u8"цвет");
    k.DefaultLoggerLabel = C(u8"датчик");

    k.GaugeSection = C(u8"Прибор_");
    k.GaugeName = C(u8"Название");
    k.GaugeKind = C(u8"Вид");
    k.GaugeFormula = C(u8"Формула");
    k.GaugeSize = C(u8"Размер");
    k.GaugeX = C(u8"Х");
    k.GaugeY = C(u8"У");
    k.GaugeMax = C(u8"Максимум");
    k.GaugeMin = C(u8"Минимум");
    k.GaugeDivisions = C(u8"ГрадацияШк");
    k.GaugeDigits = C(u8"Кол-воЦиврШк");
    k.GaugeStartAngle = C(u8"НачУгол");
    k.GaugeEndAngle = C(u8"КонУгол");
    k.GaugeHorizontal = C(u8"Горизонтальный");
    k.GaugeReverse = C(u8"Реверс");
    k.GaugeScaleColor = C(u8"ЦветШк");
    k.GaugeNeedleColor = C(u8"ЦветСтр");
    k.GaugeTextColor = C(u8"ЦветТекст");
    k.GaugeAlarm = C(u8"Тревога");
    k.GaugeAlarmBelow = C(u8"ТревогаНиже");
    k.GaugeAlarmLevel = C(u8"ТревогаУровень");
    k.GaugeAlarmSound = C(u8"ТревогаЗвук");

    k.Clock = C(u8"Часы");
    k.ClockSize = C(u8"Размер");
    k.ClockX = C(u8"Х");
    k.ClockY = C(u8"У");
    k.ClockColor = C(u8"Цвет");
    k.ClockVisible = C(u8"Отображать");

    k.SumsSection = C(u8"Сохр_Формулы");
    return k;
}

}  // namespace

const TSettingsKeys& SettingsKeys()
{
    static const TSettingsKeys keys = MakeKeys();
    return keys;
}

}  // namespace kovra
