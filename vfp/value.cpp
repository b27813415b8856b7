#include "vfp/value.h"

namespace vfp {

long dateToJulian(const Date& d) {
  long a = (14 - d.month) / 12;
  long y = d.year + 4800 - a;
  long m = d.month + 12 * a - 3;
  return d.day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

Date julianToDate(long jdn) {
  long a = jdn + 32044;
  long b = (4 * a + 3) / 146097;
  long c = a - 146097 * b / 4;
  long d = (4 * c + 3) / 1461;
  long e = c - 1461 * d / 4;
  long m = (5 * e + 2) / 153;
  Date r;
  r.day = int(e - (153 * m + 2) / 5 + 1);
  r.month = int(m + 3 - 12 * (m / 10));
  r.year = int(100 * b + d - 4800 + m / 10);
  return r;
}

bool validDate(const Date& d) {
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int max = days[d.month - 1];
  if (d.month == 2 && ((d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0)) max = 29;
  return d.day <= max;
}

}  // namespace vfp
