// The time model: calendar, the machine's zone, daylight rules, trace dates,
// the writers' time base, PC timer ticks; and the frame checksums.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/bytes.h"
#include "engine/checksum.h"
#include "engine/timebase.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using testkit::ScopedTimeZone;

// Frame times are rounded in integers where the formats once rounded the
// quotient as a double: the same result on both sides of zero, on halves and
// next to them, and no overflow at the ends of the range.
TEST(RoundedDiv, AgreesWithRoundingTheQuotient) {
  for (int64_t b : {2, 3, 1000, 1000000})
    for (int64_t a = -3 * b - 2; a <= 3 * b + 2; ++a)
      ASSERT_EQ(RoundedDiv(a, b), std::llround(double(a) / double(b))) << a << " / " << b;
  for (int64_t a : {int64_t(86400) * 1000000 * 366 + 500, int64_t(-7200000499), int64_t(4294967295499)})
    EXPECT_EQ(RoundedDiv(a, 1000), std::llround(double(a) / 1000.0)) << a;
  EXPECT_EQ(RoundedDiv(INT64_MAX, 2), INT64_MAX / 2 + 1);
  EXPECT_EQ(RoundedDiv(INT64_MIN, 2), INT64_MIN / 2);
}

// The call-free copies of frame bytes against memcpy and memmove: every
// length either side of the short runs they take apart, and for the move
// every overlap either way (a frame made 802.11 moves its payload up in place).
TEST(ByteCopies, AgreeWithTheLibrary) {
  std::vector<uint8_t> source(256);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i * 37 + 11);
  for (size_t n = 0; n <= 100; ++n) {
    std::vector<uint8_t> ours(256, 0xEE), theirs(256, 0xEE);
    CopyBytes(ours.data() + 3, source.data() + 5, n);
    std::memcpy(theirs.data() + 3, source.data() + 5, n);
    ASSERT_EQ(ours, theirs) << "copy of " << n;
    for (int shift = -24; shift <= 24; ++shift) {
      std::vector<uint8_t> moved = source, expected = source;
      MoveBytes(moved.data() + 80 + shift, moved.data() + 80, n);
      std::memmove(expected.data() + 80 + shift, expected.data() + 80, n);
      ASSERT_EQ(moved, expected) << "move of " << n << " by " << shift;
    }
  }
}

// The library-free rounding of PC-timer quotients: exactly std::llround and
// std::floor on halves, next to them, on both sides of zero and for large
// values; saturated beyond the 64-bit range.
TEST(RoundHalfAway, AgreesWithTheLibrary) {
  std::vector<double> xs = {0.0, -0.0, 0.5, -0.5, 1.5, -1.5, 2.5, 0.49999999999999994,
                            -0.49999999999999994, 0x1p52 + 1, -0x1p52 - 1, 0x1p62, -0x1p62,
                            4503599627370495.5, -4503599627370495.5, 0x1p48 - 0.5};
  for (int64_t n = -3000; n <= 3000; ++n) {
    xs.push_back(double(n) / TimeUnits::PcTimerTickMicroseconds);
    xs.push_back(double(n) * TimeUnits::PcTimerTickMicroseconds);
    xs.push_back(std::nextafter(double(n) + 0.5, 0.0));
  }
  for (double x : xs) {
    ASSERT_EQ(RoundHalfAway(x), std::llround(x)) << x;
    ASSERT_EQ(FloorToInt(x), int64_t(std::floor(x))) << x;
  }
  EXPECT_EQ(RoundHalfAway(1e19), INT64_MAX);
  EXPECT_EQ(RoundHalfAway(-1e19), INT64_MIN);
  EXPECT_EQ(FloorToInt(0x1p63), INT64_MAX);
  EXPECT_EQ(FloorToInt(-0x1p63), INT64_MIN);
  EXPECT_EQ(FloorToInt(-1e300), INT64_MIN);
}

// The multiplying rounder gives what the division gives, for the time units
// writers count in: near every half (where product and quotient may part) and
// across the range up to 2^48 units, where a unit's fraction is coarsest.
TEST(UnitRounder, AgreesWithTheDivision) {
  for (double unit : {TimeUnits::PcTimerTickMicroseconds, 1 / 1.193181666, 0.032, 0.1}) {
    const UnitRounder rounder(unit);
    uint64_t seed = 88172645463325252ull;
    for (int i = 0; i < 200000; ++i) {
      seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
      const int bits = 1 + int(seed % 47);
      const int64_t micros = int64_t((seed >> 16) & ((uint64_t(1) << bits) - 1));
      const int64_t nearHalf = int64_t((double(micros) + 0.5) * unit);
      for (int64_t x : {micros, nearHalf - 1, nearHalf, nearHalf + 1, -micros})
        ASSERT_EQ(rounder(x), RoundHalfAway(double(x) / unit)) << x << " / " << unit;
    }
  }
}

TEST(Calendar, DatesRoundTripAndKnowTheirWeekday) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  int y, m, d;
  DecodeDate(EncodeDate(2024, 2, 29) + 0.75, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 8)), 2);  // a Tuesday
  EXPECT_EQ(DayOfWeek(EncodeDate(1970, 1, 1)), 4);
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_TRUE(IsLeapYear(2000));
}

TEST(TraceDateFromUnix, LastSecondOfADayAndTheNextMidnight) {
  ConversionState s;
  SetTraceDateFromUnix(s, 86399, 0);
  int y, m, d, hh, mm, ss;
  DecodeDate(s.time.traceDate, y, m, d);
  DecodeTime(s.time.traceDate, hh, mm, ss);
  EXPECT_EQ(y * 10000 + m * 100 + d, 19700101);
  EXPECT_EQ(hh * 10000 + mm * 100 + ss, 235959);
  EXPECT_EQ(s.time.headerTimeOfDay, 86399000000LL);
  SetTraceDateFromUnix(s, 86400, 0);
  DecodeDate(s.time.traceDate, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 19700102);
  EXPECT_EQ(s.time.headerTimeOfDay, 0);
}

TEST(TimeZone, PosixRulesParse) {
  TimeZoneRules r;
  ASSERT_TRUE(ParsePosixTimeZone("CET-1CEST,M3.5.0,M10.5.0/3", r));
  EXPECT_EQ(r.standardBiasMinutes, -60);
  EXPECT_EQ(r.daylightBiasMinutes, -60);
  EXPECT_EQ(r.daylightStart.month, 3);
  EXPECT_EQ(r.daylightStart.week, 5);
  EXPECT_EQ(r.daylightStart.seconds, 7200);
  EXPECT_EQ(r.daylightEnd.seconds, 3 * 3600);
  ASSERT_TRUE(ParsePosixTimeZone("<+0530>-5:30", r));
  EXPECT_EQ(r.standardBiasMinutes, -330);
  EXPECT_EQ(r.daylightStart.month, 0);
  ASSERT_TRUE(ParsePosixTimeZone("EST5EDT", r));  // rule omitted: the US default
  EXPECT_EQ(r.standardBiasMinutes, 300);
  EXPECT_EQ(r.daylightStart.month, 3);
  EXPECT_FALSE(ParsePosixTimeZone("", r));
  EXPECT_FALSE(ParsePosixTimeZone("CET-1CEST,M13.5.0,M10.5.0", r));
}

TEST(TimeZone, ZoneNamesAreReadFromTheZoneFiles) {
  {
    ScopedTimeZone tz("Europe/Berlin");
    EXPECT_EQ(MachineTimeZone().standardBiasMinutes, -60);
    EXPECT_EQ(MachineTimeZone().daylightStart.month, 3);
  }
  {
    ScopedTimeZone tz("America/New_York");
    EXPECT_EQ(MachineTimeZone().standardBiasMinutes, 300);
  }
  {
    ScopedTimeZone tz("UTC");
    EXPECT_EQ(MachineTimeZone().standardBiasMinutes, 0);
    EXPECT_EQ(MachineTimeZone().daylightStart.month, 0);
  }
  // A folder or an endless device is no zone file: UTC, without a hang.
  for (const char* notAFile : {"Europe", "/dev/zero", "/usr/share/zoneinfo"}) {
    ScopedTimeZone tz(notAFile);
    EXPECT_EQ(MachineTimeZone().standardBiasMinutes, 0) << notAFile;
  }
}

// What --source-tz and --target-tz accept: zone names, POSIX rules, UTC;
// anything else is no zone.
TEST(TimeZone, UserNamedZonesLoadOrAreRefused) {
  const auto newYork = LoadTimeZone("America/New_York");
  ASSERT_TRUE(newYork);
  EXPECT_EQ(newYork->standardBiasMinutes, 300);
  EXPECT_EQ(newYork->daylightStart.month, 3);
  const auto rule = LoadTimeZone("EST5EDT,M3.2.0,M11.1.0");
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->daylightEnd.month, 11);
  const auto utc = LoadTimeZone("UTC");
  ASSERT_TRUE(utc);
  EXPECT_EQ(utc->standardBiasMinutes, 0);
  EXPECT_EQ(utc->daylightStart.month, 0);
  for (const char* bad : {"Mars/Olympus", "", "../../etc/passwd", "/etc/passwd", "Europe", "CET-1CEST,M3.5.0"})
    EXPECT_FALSE(LoadTimeZone(bad)) << bad;
}

// A trace told in another zone keeps every UTC instant: the date, the bias
// of that zone on that date (daylight or not) and a shift of the frame times.
TEST(TimeZone, ATraceViewedInAnotherZoneKeepsItsInstants) {
  const auto newYork = LoadTimeZone("America/New_York"), berlin = LoadTimeZone("Europe/Berlin");
  ASSERT_TRUE(newYork && berlin);
  struct Case {
    double date;        // New York local date-time of the trace
    int32_t nyBias, berlinBias;  // seconds, UTC = local + bias
  } const cases[] = {
      {EncodeDateTime(2024, 1, 15, 20, 0, 0), 5 * 3600, -3600},
      {EncodeDateTime(2024, 7, 15, 20, 0, 0), 4 * 3600, -7200},
      // Between the two springs: New York already on daylight time, Berlin not yet.
      {EncodeDateTime(2024, 3, 20, 12, 0, 0), 4 * 3600, -3600},
  };
  for (const Case& c : cases) {
    ConversionState s;
    s.time.sourceZone = newYork;
    s.time.traceDate = c.date;
    ComputeTimeZoneBias(s, false);
    EXPECT_EQ(s.time.timeZoneBias, c.nyBias);
    const ZoneView view = ViewInZone(s, *berlin);
    EXPECT_EQ(view.timeZoneBias, c.berlinBias);
    const int64_t frameTime = 23LL * 3600 * 1000000 + 5;  // 23:00:00.000005 New York
    const int64_t utc = (DaysFrom1970(s.time.traceDate) * kSecondsPerDay + s.time.timeZoneBias) * 1000000 + frameTime;
    const int64_t viewUtc = (DaysFrom1970(view.traceDate) * kSecondsPerDay + view.timeZoneBias) * 1000000 +
                            frameTime + view.frameTimeShift;
    EXPECT_EQ(viewUtc, utc);
    // The trace date moves to the next day in Berlin: 20:00 New York is after midnight there.
    EXPECT_EQ(DaysFrom1970(view.traceDate), DaysFrom1970(c.date) + (c.date - std::floor(c.date) > 0.75 ? 1 : 0));
  }
}

TEST(Daylight, LastSundayOfMarchAtTwo) {
  ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
  // 2024-03-31 is the last Sunday of March.
  EXPECT_EQ(TransitionDay(2024, MachineTimeZone().daylightStart), EncodeDate(2024, 3, 31));
  EXPECT_TRUE(IsDaylightTime(EncodeDateTime(2024, 3, 31, 3, 0, 0)));
  EXPECT_FALSE(IsDaylightTime(EncodeDateTime(2024, 3, 30, 3, 0, 0)));
  EXPECT_TRUE(IsDaylightTime(EncodeDateTime(2024, 7, 1, 12, 0, 0)));
  EXPECT_FALSE(IsDaylightTime(EncodeDateTime(2024, 12, 1, 12, 0, 0)));
  ConversionState s;
  s.time.traceDate = EncodeDateTime(2024, 7, 1, 12, 0, 0);
  ComputeTimeZoneBias(s, true);
  EXPECT_EQ(s.time.timeZoneBias, -7200);
  s.time.traceDate = EncodeDateTime(2024, 1, 1, 12, 0, 0);
  ComputeTimeZoneBias(s, true);
  EXPECT_EQ(s.time.timeZoneBias, -3600);
}

TEST(Daylight, SouthernHemisphereSpansTheNewYear) {
  ScopedTimeZone tz("AEST-10AEDT,M10.1.0,M4.1.0/3");
  EXPECT_TRUE(IsDaylightTime(EncodeDateTime(2024, 1, 15, 12, 0, 0)));
  EXPECT_TRUE(IsDaylightTime(EncodeDateTime(2024, 12, 15, 12, 0, 0)));
  EXPECT_FALSE(IsDaylightTime(EncodeDateTime(2024, 7, 15, 12, 0, 0)));
  ConversionState s;
  s.time.traceDate = EncodeDateTime(2024, 1, 15, 12, 0, 0);
  ComputeTimeZoneBias(s, true);
  EXPECT_EQ(s.time.timeZoneBias, -11 * 3600);
}

TEST(SourceZone, ANamedZoneWinsExceptAtConversionStart) {
  ScopedTimeZone tz("UTC");
  ConversionState s;
  s.time.sourceZoneBiasMinutes = 5 * 60;
  ComputeTimeZoneBias(s, false);
  EXPECT_EQ(s.time.timeZoneBias, 5 * 3600);
  s.time.sourceZoneBiasMinutes.reset();
  ComputeTimeZoneBias(s, false);
  EXPECT_EQ(s.time.timeZoneBias, 0);
  s.time.sourceZoneBiasMinutes = 5 * 60;
  ComputeTimeZoneBias(s, true);  // not at conversion start
  EXPECT_EQ(s.time.timeZoneBias, 0);
}

TEST(WriterTimeBase, CountsLeapDaysAndSplitsTheFirstFrame) {
  ScopedTimeZone tz("UTC");
  ConversionState s;
  s.time.traceDate = EncodeDate(2024, 3, 15);
  s.time.firstFrameTime = 3723LL * 1000000 + 456789;  // 01:02:03.456789
  ComputeWriterTimeBase(s);
  // 2024-03-15 00:00:00 UTC is 1710460800 (29 February counted).
  EXPECT_EQ(s.writerTime.firstFrameUnixTime, 1710460800u + 3723u);
  EXPECT_EQ(s.writerTime.timeBaseSeconds, 3723);
  EXPECT_EQ(s.writerTime.timeBaseFraction, 456789.0);
  UnixTime earlier = FrameUnixTime(s, s.time.firstFrameTime - 500000);  // half a second before
  EXPECT_EQ(earlier.seconds, 1710460800 + 3722);
  EXPECT_EQ(earlier.microseconds, 956789);
  UnixTime later = FrameUnixTime(s, s.time.firstFrameTime + 543211);
  EXPECT_EQ(later.seconds, 1710460800 + 3724);
  EXPECT_EQ(later.microseconds, 0);
}

TEST(WriterTimeBase, PositiveWestBiasIsAddedToGetUtc) {
  ConversionState s;
  s.time.traceDate = EncodeDate(1970, 1, 2);
  s.time.timeZoneBias = 5 * 3600;  // local is five hours behind UTC
  s.time.firstFrameTime = 0;
  ComputeWriterTimeBase(s);
  EXPECT_EQ(s.writerTime.firstFrameUnixTime, 86400u + 5 * 3600u);
  s.time.traceDate = EncodeDate(1969, 12, 1);  // before 1970: negative, each writer checks its range
  ComputeWriterTimeBase(s);
  EXPECT_EQ(s.writerTime.firstFrameUnixTime, -31 * 86400 + 5 * 3600);
  s.time.traceDate = EncodeDate(2106, 3, 1);  // past 32 bits: kept whole
  ComputeWriterTimeBase(s);
  EXPECT_EQ(s.writerTime.firstFrameUnixTime, 4296844800 + 5 * 3600);
}

// The readers' cached midnight gives the same times as the plain conversion,
// also when the trace date or the zone bias changes under it.
TEST(UnixFrameClock, FollowsTheTraceDateAndBias) {
  ConversionState s;
  UnixFrameClock clock;
  for (int64_t start : {0LL, 86399LL, 1700000000LL, 4102444800LL}) {
    for (int32_t bias : {0, -3600, 19800, 36000}) {
      s.time.timeZoneBias = bias;
      SetTraceDateFromUnix(s, start, bias);
      for (int64_t seconds : {start, start + 1, start + 86400 * 3, start - 5})
        for (int64_t micros : {0LL, 1LL, 999999LL})
          EXPECT_EQ(clock(s, seconds, micros), FrameTimeFromUnix(s, seconds, micros))
              << start << " " << bias << " " << seconds;
    }
  }
}

// The writers' stepped second gives what the plain division gives, for frames
// in order, back in time, before the first one and far from it.
TEST(SteppedUnixClock, GivesWhatFrameUnixTimeGives) {
  ConversionState s;
  s.time.traceDate = EncodeDate(2024, 3, 15);
  constexpr int64_t kDay = int64_t(86400) * 1000000;
  for (int64_t first : {int64_t(0), int64_t(3723) * 1000000 + 456789, kDay - 1}) {
    s.time.firstFrameTime = first;
    ComputeWriterTimeBase(s);
    SteppedUnixClock clock;
    clock.start(s);
    for (int64_t step : {first, first + 1, first + 543210, first + 543211, first + 999999,
                         first + 1000000, first - 1, first - 456790, first - 1000001,
                         first + kDay * 400, first - kDay * 3, first}) {
      const UnixTime stepped = clock(step), divided = FrameUnixTime(s, step);
      EXPECT_EQ(stepped.seconds, divided.seconds) << first << " " << step;
      EXPECT_EQ(stepped.microseconds, divided.microseconds) << first << " " << step;
    }
  }
}

TEST(AbsoluteTimes, FramesAfterLocalMidnightKeepCounting) {
  ScopedTimeZone tz("EST5EDT,M3.2.0,M11.1.0");
  ConversionState s;
  const int64_t first = 1704171540;  // 2024-01-01 23:59:00 EST
  StartTraceAtUnixTime(s, first);
  EXPECT_EQ(s.time.timeZoneBias, 5 * 3600);
  int y, m, d;
  DecodeDate(s.time.traceDate, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240101);
  EXPECT_EQ(FrameTimeFromUnix(s, first, 5), (23LL * 3600 + 59 * 60) * 1000000 + 5);
  EXPECT_EQ(FrameTimeFromUnix(s, first + 120, 0), (24LL * 3600 + 60) * 1000000);
}

TEST(PcTimer, TicksUpToADayAndBeyond) {
  EXPECT_NEAR(PcTimerMicroseconds(0x0018, 0x00B0, 0), 86399877168.7, 0.5);
  EXPECT_NEAR(PcTimerMicroseconds(0x0018, 0x00B3, 0), 41944.98, 0.5);
  EXPECT_NEAR(PcTimerMicroseconds(0, 0, 1000), 838.09534452, 1e-6);
}

TEST(Checksums, Crc32LimitsAndKnownValues) {
  std::vector<uint8_t> frame(64, 0);
  for (int i = 0; i < 60; ++i) frame[size_t(i)] = uint8_t(i);
  EXPECT_EQ(FrameCrc32(frame.data(), 59), 0u);
  EXPECT_NE(FrameCrc32(frame.data(), 60), 0u);
  EXPECT_EQ(FrameCrc32(frame.data(), 32768), 0u);
  // The residue property: the CRC over data plus its little-endian CRC is constant.
  uint32_t crc = FrameCrc32(frame.data(), 60);
  for (int k = 0; k < 4; ++k) frame[size_t(60 + k)] = uint8_t(crc >> (8 * k));
  EXPECT_EQ(FrameCrc32(frame.data(), 64), 0x2144DF1Cu);
}

// The CRC against zlib's at every length up to beyond the largest Ethernet
// frame, then at lengths of jumbo frames and records up to 64 KB (each way
// of folding: short runs, 64 bytes a step, 256 bytes a step, with every
// remainder), from aligned and unaligned starts.
TEST(Checksums, Crc32MatchesZlibAtEveryLength) {
  std::vector<uint8_t> bytes(65600);
  uint32_t x = 12345;
  for (uint8_t& b : bytes) b = uint8_t((x = x * 1103515245 + 12345) >> 16);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 2100; ++n) lengths.push_back(n);
  for (size_t n : {2303, 2304, 2305, 4095, 4096, 9000, 9018, 16383, 32768, 65535, 65536})
    lengths.push_back(n);
  for (size_t start : {0, 1, 3, 63}) {
    for (size_t n : lengths)
      ASSERT_EQ(Crc32(bytes.data() + start, n), uint32_t(crc32(0L, bytes.data() + start, uInt(n))))
          << start << " " << n;
  }
}

TEST(Checksums, Crc16OfTheCheckString) {
  const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(FrameCrc16(text, 9), 0x906E);  // CRC-16/X-25 check value
  EXPECT_EQ(FrameCrc16(text, 32768), 0);
}

// The frame buffer starts zeroed, reads zero again after clear() whatever
// was written, and copies byte for byte.
TEST(FrameHelpers, FrameBufferClearsAndCopies) {
  FrameBuffer buffer;
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }));
  buffer.fill(0xAB);
  buffer[FrameBuffer::size() - 1] = 0x5A;
  const FrameBuffer copy(buffer);
  EXPECT_TRUE(std::equal(copy.begin(), copy.end(), buffer.begin()));
  buffer.clear();
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(copy[0], 0xAB);  // the copy has pages of its own
  EXPECT_EQ(copy[FrameBuffer::size() - 1], 0x5A);
}

TEST(FrameHelpers, ClampAndFcsOfBadFrames) {
  ConversionState s;
  s.frame.frameLength = MaxFrameBytes + 40000;
  s.frame.storedLength = MaxFrameBytes + 40000;
  ClampFrameLength(s);
  EXPECT_EQ(s.frame.frameLength, MaxFrameBytes);
  EXPECT_EQ(s.frame.storedLength, MaxFrameBytes);
  // An absurd wire length beside a few stored bytes: the stored bytes stay
  // what the record held.
  s.frame.frameLength = MaxFrameBytes + 65539;
  s.frame.storedLength = 64;
  ClampFrameLength(s);
  EXPECT_EQ(s.frame.frameLength, MaxFrameBytes);
  EXPECT_EQ(s.frame.storedLength, 64);
  s.frame.frameLength = 100;
  s.frame.storedLength = MaxFrameBytes + 40000;  // left alone: the pipeline rejects it
  ClampFrameLength(s);
  EXPECT_EQ(s.frame.storedLength, MaxFrameBytes + 40000);
  s.frame.frameLength = MaxFrameBytes + 40000;
  s.frame.storedLength = 100;  // captured short: never raised over bytes nobody read
  ClampFrameLength(s);
  EXPECT_EQ(s.frame.frameLength, MaxFrameBytes);
  EXPECT_EQ(s.frame.storedLength, 100);
  s.frame.frameLength = 64;
  s.frame.frameFlags = Flag::CrcError;
  s.frame.frameData.fill(0xAB);
  StoreEthernetFcs(s);
  EXPECT_EQ(s.frame.frameFcs, 0u);
  EXPECT_EQ(s.frame.frameData[60], 0);
  EXPECT_EQ(s.frame.frameData[63], 0);
}

}  // namespace
}  // namespace morph
