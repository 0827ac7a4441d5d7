// Section and key names of set.ini, in CP1251 as they are in the file.
#pragma once

#include <string>

namespace kovra {

struct TSettingsKeys {
    // "настройки"
    std::string General, FullScreen, PanelColor, ObdMode, ReplyTimeout, AreaCount, FormulaCount,
        LoggerCount, ChartTextColor, ChartTextHeight, GaugeCount, Language, MomentFormula,
        MomentChart, MomentYMax, DoubleBuffered, PortName, Preamble, AutoStartLog;
    // "области"
    std::string Areas, AreaAddress, AreaLength;
    // "формула_" + n
    std::string FormulaSection, FormulaName, Accumulate, VarCount, FormulaText, DefaultFormulaName;
    std::string VarName, VarKind, VarArea, VarOffset, VarIsBit, VarBitNumber, VarFormula,
        DefaultVarName;
    // "логер_" + k
    std::string LoggerSection, LoggerHeight, LoggerFormula, LoggerLabel, LoggerMax, LoggerMin,
        LoggerColor, DefaultLoggerLabel;
    // "Прибор_" + g
    std::string GaugeSection, GaugeName, GaugeKind, GaugeFormula, GaugeSize, GaugeX, GaugeY, GaugeMax,
        GaugeMin, GaugeDivisions, GaugeDigits, GaugeStartAngle, GaugeEndAngle, GaugeHorizontal,
        GaugeReverse, GaugeScaleColor, GaugeNeedleColor, GaugeTextColor, GaugeAlarm, GaugeAlarmBelow,
        GaugeAlarmLevel, GaugeAlarmSound;
    // "Часы"
    std::string Clock, ClockSize, ClockX, ClockY, ClockColor, ClockVisible;
    // the sums file
    std::string SumsSection;
};

const TSettingsKeys& SettingsKeys();

}  // namespace kovra
