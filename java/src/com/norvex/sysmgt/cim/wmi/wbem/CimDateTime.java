package com.norvex.sysmgt.cim.wmi.wbem;

import java.time.DateTimeException;
import java.time.Duration;
import java.time.OffsetDateTime;
import java.time.ZoneOffset;

/**
 * The text WMI keeps datetime and interval values in: "yyyymmddHHMMSS.mmmmmmsUUU" (a point in
 * time, s the sign and UUU the minutes of its offset from UTC) and "ddddddddHHMMSS.mmmmmm:000"
 * (a span). Both carry microseconds; finer parts are cut off when writing.
 */
final class CimDateTime {
    private static final int LENGTH = 25;
    private static final long MAX_DAYS = 99_999_999L;

    private CimDateTime() {}

    static boolean isInterval(String text) {
        return text.length() == LENGTH && text.charAt(21) == ':';
    }

    static OffsetDateTime parseDateTime(String text) {
        if (text.length() != LENGTH || text.charAt(14) != '.' || isInterval(text)
                || (text.charAt(21) != '+' && text.charAt(21) != '-')) {
            throw new DateTimeException("Not a datetime value: '" + text + "'");
        }
        int offsetMinutes = number(text, 22, 25);
        ZoneOffset offset = ZoneOffset.ofTotalSeconds(
                (text.charAt(21) == '-' ? -60 : 60) * offsetMinutes);
        return OffsetDateTime.of(number(text, 0, 4), number(text, 4, 6), number(text, 6, 8),
                number(text, 8, 10), number(text, 10, 12), number(text, 12, 14),
                number(text, 15, 21) * 1000, offset);
    }

    static String formatDateTime(OffsetDateTime time) {
        int offsetSeconds = time.getOffset().getTotalSeconds();
        if (time.getYear() < 0 || time.getYear() > 9999 || offsetSeconds % 60 != 0) {
            throw new DateTimeException(
                    "A datetime value holds years 0 to 9999 and whole-minute offsets: " + time);
        }
        return String.format("%04d%02d%02d%02d%02d%02d.%06d%c%03d", time.getYear(),
                time.getMonthValue(), time.getDayOfMonth(), time.getHour(), time.getMinute(),
                time.getSecond(), time.getNano() / 1000, offsetSeconds < 0 ? '-' : '+',
                Math.abs(offsetSeconds) / 60);
    }

    static Duration parseInterval(String text) {
        if (!isInterval(text) || text.charAt(14) != '.' || !text.endsWith("000")) {
            throw new DateTimeException("Not an interval value: '" + text + "'");
        }
        return Duration.ofDays(number(text, 0, 8)).plusHours(number(text, 8, 10))
                .plusMinutes(number(text, 10, 12)).plusSeconds(number(text, 12, 14))
                .plusNanos(number(text, 15, 21) * 1000L);
    }

    static String formatInterval(Duration span) {
        if (span.isNegative() || span.toDays() > MAX_DAYS) {
            throw new DateTimeException(
                    "An interval value holds 0 to " + MAX_DAYS + " days: " + span);
        }
        return String.format("%08d%02d%02d%02d.%06d:000", span.toDays(), span.toHoursPart(),
                span.toMinutesPart(), span.toSecondsPart(), span.toNanosPart() / 1000);
    }

    private static int number(String text, int from, int to) {
        int value = 0;
        for (int i = from; i < to; i++) {
            char c = text.charAt(i);
            if (c < '0' || c > '9') {
                throw new DateTimeException("Not a complete time value (digits "
                        + from + " to " + to + "): '" + text + "'");
            }
            value = value * 10 + (c - '0');
        }
        return value;
    }
}
