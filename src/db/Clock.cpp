#include "db/Clock.h"

#include "db/DateTimeValue.h"

double Clock::Now() const { return now_ ? now_() : DateTimeValue::Now(); }
double Clock::Today() const { return DateTimeValue::DateOf(Now()); }
double Clock::TimeOfDay() const { return DateTimeValue::TimeOf(Now()); }
