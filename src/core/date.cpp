// Dates: the day number of a Date Value, its text form and the text forms
// read as dates.
//
// Day 0 is midnight of 30 December 1899. The integer part counts days and the
// fraction is the time of day; for days before day 0 the fraction is still
// the time of day, taken as its absolute value, so -1.25 is 29 December 1899
// at 6:00. The calendar is the proleptic Gregorian one.

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "core/number_text.h"
#include "quorvel/convert.h"
#include "quorvel/error.h"

namespace quorvel {
namespace {

// 1 January 100 and 31 December 9999; a day number is valid when its integer
// part (toward zero) lies between them.
constexpr double kFirstDay = -657434;
constexpr double kLastDay = 2958465;
constexpr int64_t kSecondsPerDay = 86400;
// Day number of 1 January 1970, the epoch of the civil-day arithmetic.
constexpr int64_t kUnixEpochDay = 25569;

bool InDateRange(double day_number) {
  return day_number > kFirstDay - 1 && day_number < kLastDay + 1;
}

// Days since 1 January 1970 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct CivilDate {
  int64_t year;
  int month;
  int day;
};

CivilDate CivilFromDays(int64_t z) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2), month, day};
}

bool IsLeapYear(int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int64_t y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

void AppendNumber(std::u16string& out, int64_t n, int min_digits) {
  char16_t digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + n % 10);
    n /= 10;
  } while (n != 0);
  for (int i = count; i < min_digits; ++i) out.push_back(u'0');
  while (count > 0) out.push_back(digits[--count]);
}

// A cursor over date text.
class DateReader {
 public:
  explicit DateReader(std::u16string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }
  size_t pos() const { return pos_; }
  void Reset(size_t pos) { pos_ = pos; }
  bool Peek(char16_t c) const { return !AtEnd() && text_[pos_] == c; }
  bool Take(char16_t c) {
    if (!Peek(c)) return false;
    ++pos_;
    return true;
  }
  // Reads 1 to `max_digits` digits; returns how many were read (0 when none
  // or when more follow).
  int Number(int max_digits, int* value) {
    int count = 0;
    int n = 0;
    while (!AtEnd() && text_[pos_] >= u'0' && text_[pos_] <= u'9') {
      if (count == max_digits) return 0;
      n = n * 10 + (text_[pos_] - u'0');
      ++count;
      ++pos_;
    }
    *value = n;
    return count;
  }
  int SkipBlanks() {
    int count = 0;
    while (!AtEnd() && internal::IsBlank(text_[pos_])) {
      ++pos_;
      ++count;
    }
    return count;
  }
  // Takes "AM" or "PM" in any case; returns 0 for AM, 12 for PM, -1 when
  // neither is there.
  int Meridiem() {
    if (text_.size() - pos_ < 2) return -1;
    char16_t a = text_[pos_] | 0x20;
    char16_t m = text_[pos_ + 1] | 0x20;
    if (m != u'm' || (a != u'a' && a != u'p')) return -1;
    pos_ += 2;
    return a == u'a' ? 0 : 12;
  }

 private:
  std::u16string_view text_;
  size_t pos_ = 0;
};

// Reads "h:mm[:ss]" with an optional AM or PM (12-hour) or without one
// (24-hour); returns the seconds since midnight.
std::optional<int64_t> ReadTime(DateReader& in) {
  int hour = 0;
  int minute = 0;
  int second = 0;
  if (in.Number(2, &hour) == 0 || !in.Take(u':')) return std::nullopt;
  if (in.Number(2, &minute) == 0 || minute > 59) return std::nullopt;
  if (in.Take(u':') && (in.Number(2, &second) == 0 || second > 59))
    return std::nullopt;
  size_t before_blanks = in.pos();
  in.SkipBlanks();
  int meridiem = in.Meridiem();
  if (meridiem < 0) {
    in.Reset(before_blanks);
    if (hour > 23) return std::nullopt;
  } else {
    if (hour > 12) return std::nullopt;
    hour = hour % 12 + meridiem;
  }
  return (hour * 60 + minute) * 60 + second;
}

// Reads "M/d/yyyy" or "yyyy-MM-dd"; returns the day number, or nullopt when
// the text holds no such date. Raises 6 for a year below 100. A year of one
// or two digits is taken as 1930 to 2029.
std::optional<int64_t> ReadDate(DateReader& in, bool* iso) {
  int first = 0;
  int first_digits = in.Number(4, &first);
  if (first_digits == 0) return std::nullopt;
  int year = 0;
  int month = 0;
  int day = 0;
  int year_digits = 0;
  if (first_digits <= 2 && in.Take(u'/')) {
    month = first;
    if (in.Number(2, &day) == 0 || !in.Take(u'/')) return std::nullopt;
    year_digits = in.Number(4, &year);
    if (year_digits == 0) return std::nullopt;
    *iso = false;
  } else if (first_digits == 4 && in.Take(u'-')) {
    year = first;
    year_digits = 4;
    if (in.Number(2, &month) == 0 || !in.Take(u'-')) return std::nullopt;
    if (in.Number(2, &day) == 0) return std::nullopt;
    *iso = true;
  } else {
    return std::nullopt;
  }
  if (year_digits <= 2) year += year < 30 ? 2000 : 1900;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return std::nullopt;
  if (year < 100) RaiseStandard(kErrOverflow);
  return DaysFromCivil(year, month, day) + kUnixEpochDay;
}

// Reads the date forms of text: a date, a date and a time, or a time alone.
std::optional<double> ReadDateText(std::u16string_view text) {
  DateReader in(internal::TrimBlanks(text));
  bool iso = false;
  std::optional<int64_t> day = ReadDate(in, &iso);
  if (!day) in.Reset(0);
  if (day && in.AtEnd()) return static_cast<double>(*day);
  if (day && !(iso && in.Take(u'T')) && in.SkipBlanks() == 0)
    return std::nullopt;
  std::optional<int64_t> seconds = ReadTime(in);
  if (!seconds || !in.AtEnd()) return std::nullopt;
  double time = static_cast<double>(*seconds) / kSecondsPerDay;
  int64_t whole = day.value_or(0);
  return whole < 0 ? whole - time : whole + time;
}

// A day number rounded to the second, split into its day and seconds.
struct RoundedDate {
  int64_t day;
  int64_t seconds;
};

RoundedDate RoundToSecond(double day_number) {
  if (!InDateRange(day_number)) RaiseStandard(kErrOverflow);
  double whole = std::trunc(day_number);
  int64_t day = static_cast<int64_t>(whole);
  int64_t seconds = static_cast<int64_t>(std::floor(
      std::fabs(day_number - whole) * static_cast<double>(kSecondsPerDay) +
      0.5));
  if (seconds >= kSecondsPerDay) {
    // Rounded up to midnight: the next calendar day, unless that leaves the
    // range, where the last second of the range stands instead.
    if (day == static_cast<int64_t>(kLastDay)) {
      seconds = kSecondsPerDay - 1;
    } else {
      seconds = 0;
      ++day;
    }
  }
  return {day, seconds};
}

}  // namespace

String DateToText(double day_number) {
  auto [day, seconds] = RoundToSecond(day_number);
  CivilDate date = CivilFromDays(day - kUnixEpochDay);
  bool date_only = seconds == 0 && day != 0;
  bool time_only = day == 0;

  std::u16string text;
  text.reserve(24);
  if (!time_only) {
    AppendNumber(text, date.month, 1);
    text.push_back(u'/');
    AppendNumber(text, date.day, 1);
    text.push_back(u'/');
    AppendNumber(text, date.year, 1);
  }
  if (!date_only) {
    if (!time_only) text.push_back(u' ');
    int64_t hour = seconds / 3600;
    AppendNumber(text, hour % 12 == 0 ? 12 : hour % 12, 1);
    text.push_back(u':');
    AppendNumber(text, seconds / 60 % 60, 2);
    text.push_back(u':');
    AppendNumber(text, seconds % 60, 2);
    text += hour < 12 ? u" AM" : u" PM";
  }
  return String(text);
}

String DateToIsoText(double day_number) {
  CivilDate date = CivilFromDays(RoundToSecond(day_number).day - kUnixEpochDay);
  std::u16string text;
  text.reserve(10);
  AppendNumber(text, date.year, 4);
  text.push_back(u'-');
  AppendNumber(text, date.month, 2);
  text.push_back(u'-');
  AppendNumber(text, date.day, 2);
  return String(text);
}

double ToDate(const Value& v) {
  switch (v.kind()) {
    case Kind::Date:
      if (!InDateRange(v.date())) RaiseStandard(kErrOverflow);
      return v.date();
    case Kind::String: {
      if (std::optional<double> day = ReadDateText(v.string_view()))
        return *day;
      double day_number = ToDouble(ParseNumber(v.string_view()));
      if (!InDateRange(day_number)) RaiseStandard(kErrOverflow);
      return day_number;
    }
    case Kind::Object:
      return ToDate(LetValue(v));
    default: {
      // Numbers are day numbers; ToDouble raises for Null, Arrays and
      // Missing.
      double day_number = ToDouble(v);
      if (!InDateRange(day_number)) RaiseStandard(kErrOverflow);
      return day_number;
    }
  }
}

}  // namespace quorvel
