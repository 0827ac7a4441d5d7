#include "config/time_of_day.h"

#include <QTime>

namespace kovra {

double TimeOfDayNow() { return DayFraction(QTime::currentTime().msecsSinceStartOfDay()); }

}  // namespace kovra
