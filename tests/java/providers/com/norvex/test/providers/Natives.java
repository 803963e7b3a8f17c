package com.norvex.test.providers;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import com.norvex.sysmgt.cim.wmi.wbem.WbemException;
import com.norvex.sysmgt.provider.Instance;
import java.math.BigInteger;
import java.time.Duration;
import java.time.OffsetDateTime;
import java.time.ZoneOffset;
import java.util.Arrays;
import java.util.List;

/** Exercises WbemClassObject's natives on objects a C++ test made; called through JNI. */
public final class Natives {
    private Natives() {}

    public static final String TEXT = "Gr\u00fc\u00dfe \u65e5\u672c \ud834\udd1e \"q\" \\";

    public static void writeAll(long pointer) {
        WbemClassObject object = new WbemClassObject(pointer);
        object.putString("Name", TEXT);
        object.putNull("Label");
        object.putInt("Count", -7);
        object.putLong("Size", 1234567890123L);
        object.putBoolean("Online", true);
        object.putDouble("Ratio", 0.25);
        object.putStrings("Tags", new String[] {"a", "\u00df", ""});
        object.putInts("Slots", new int[] {1, -2, 3});
    }

    /** Every value read back, as one line, with the object's class and key names. */
    public static String readAll(long pointer) {
        WbemClassObject object = new WbemClassObject(pointer);
        return object.className() + "|" + object.propertyNames(true) + "|" + object.get("Name")
                + "|" + object.get("Label") + "|" + object.get("Count") + "|" + object.getLong("Size")
                + "|" + object.get("Online") + "|" + object.get("Ratio") + "|"
                + Arrays.toString(object.getStrings("Tags")) + "|"
                + Arrays.toString(object.getInts("Slots")) + "|" + object.relativePath();
    }

    /** The message and status of reading a property the class lacks. */
    public static String readMissing(long pointer) {
        try {
            new WbemClassObject(pointer).getString("NoSuchProperty");
            return "no exception";
        } catch (WbemException e) {
            return e.getMessage() + "|" + Integer.toHexString(e.status());
        }
    }

    /** Spawns and closes, returning the failure text when spawning fails. */
    public static String spawnAndClose(long services, String className) {
        try (WbemClassObject object = WbemClassObject.spawn(services, className)) {
            return object.className();
        } catch (WbemException e) {
            return e.getMessage();
        }
    }

    /** Writes a Velt_Types instance with every type at the edges of its range. */
    public static void fillTypes(long pointer) {
        Instance t = new Instance(new WbemClassObject(pointer));
        t.setString("Id", "t1").setInt("S8", -128).setInt("U8", 255).setInt("S16", -32768)
                .setInt("U16", 65535).setInt("S32", Integer.MIN_VALUE).setLong("U32", 4294967295L)
                .setLong("S64", Long.MIN_VALUE).setUnsignedLong("U64", -1L)
                .setBigInteger("Huge", BigInteger.ONE.shiftLeft(63)).setDouble("R32", 0.5)
                .setDouble("R64", -1e300).setBoolean("B", true).setInt("C", 0xFFFF)
                .setString("Text", TEXT)
                .setDateTime("When", OffsetDateTime.of(2024, 2, 29, 23, 59, 58, 123456789,
                        ZoneOffset.ofHoursMinutes(-5, -30)))
                .setInterval("Span", Duration.ofDays(12345678).plusHours(23).plusMillis(1))
                .setNull("Nothing")
                .setLongs("S8s", -128, 127).setLongs("U8s", 0, 255).setLongs("S16s", -32768)
                .setLongs("U16s", 65535).setInts("S32s", Integer.MIN_VALUE, 0)
                .setLongs("U32s", 4294967295L).setLongs("S64s", Long.MIN_VALUE, Long.MAX_VALUE)
                .setUnsignedLongs("U64s", -1L, 0L).setDoubles("R32s", 0.25, -2)
                .setDoubles("R64s", 1e-300).setBooleans("Bs", true, false, true)
                .setLongs("Cs", 0xFFFF, 65).setStrings("Texts", TEXT, "")
                .setStrings("Whens", "20240229235958.123456-330");
    }

    /** Every property of a Velt_Types instance read back through the typed getters. */
    public static String describeTypes(long pointer) {
        Instance t = new Instance(new WbemClassObject(pointer));
        StringBuilder text = new StringBuilder();
        for (String name : new String[] {"S8", "U8", "S16", "U16", "S32", "U32", "S64", "C"}) {
            text.append(name).append('=').append(t.getLong(name)).append(' ');
        }
        text.append("U64=").append(Long.toUnsignedString(t.getUnsignedLong("U64")))
                .append(" Huge=").append(t.getBigInteger("Huge")).append(" R32=")
                .append(t.getDouble("R32")).append(" R64=").append(t.getDouble("R64"))
                .append(" B=").append(t.getBoolean("B")).append(" When=")
                .append(t.getDateTime("When")).append(" Span=").append(t.getInterval("Span"))
                .append(" Nothing=").append(t.isNull("Nothing")).append(t.get("Nothing"))
                .append(t.getString("Nothing")).append(t.getBigInteger("Nothing"))
                .append(t.getDateTime("Nothing")).append(t.getLongs("Nothing"))
                .append(TEXT.equals(t.getString("Text"))).append('\n');
        for (String name : new String[] {"S8s", "U8s", "S16s", "U16s", "S32s", "U32s", "S64s",
                "Cs"}) {
            text.append(name).append('=').append(Arrays.toString(t.getLongs(name))).append(' ');
        }
        text.append("U64s=").append(Arrays.toString(t.getUnsignedLongs("U64s")))
                .append(" R32s=").append(Arrays.toString(t.getDoubles("R32s")))
                .append(" R64s=").append(Arrays.toString(t.getDoubles("R64s")))
                .append(" Bs=").append(Arrays.toString(t.getBooleans("Bs")))
                .append(" Texts=").append(Arrays.toString(t.getStrings("Texts")).equals(
                        Arrays.toString(new String[] {TEXT, ""})))
                .append(" Whens=").append(Arrays.toString(t.getStrings("Whens")));
        return text.toString();
    }

    /** What the getters and setters refuse, one failure class per case. */
    public static String refusals(long pointer) {
        Instance t = new Instance(new WbemClassObject(pointer));
        List<Runnable> cases = List.of(() -> t.getLong("U64"), () -> t.getLong("Nothing"),
                () -> t.getLongs("U64s"), () -> t.getInts("S64s"),
                () -> t.setLongs("U8s", 256), () -> t.setLongs("S8s", -129),
                () -> t.setLongs("U32s", -1), () -> t.getInterval("When"),
                () -> t.getDateTime("Span"), () -> t.setInterval("Span", Duration.ofSeconds(-1)));
        return failures(cases);
    }

    /** The class of the exception each case throws ("none" where it throws none). */
    private static String failures(List<Runnable> cases) {
        StringBuilder text = new StringBuilder();
        for (Runnable check : cases) {
            try {
                check.run();
                text.append("none ");
            } catch (RuntimeException e) {
                text.append(e.getClass().getSimpleName()).append(' ');
            }
        }
        return text.toString().trim();
    }

    private static final OffsetDateTime LEAP = OffsetDateTime.of(2024, 2, 29, 23, 59, 58, 123456789,
            ZoneOffset.ofHoursMinutes(-5, -30));

    /** A Velt_Part made through the namespace, owned by the caller. */
    private static Instance part(long services, String label, long size) {
        return new Instance(WbemClassObject.spawn(services, "Velt_Part")).setString("Label", label)
                .setUnsignedLong("Size", size).setDateTime("Seen", LEAP);
    }

    /**
     * Writes a Velt_Types instance's embedded object (itself holding one), its array of embedded
     * objects and its datetime arrays; every part made here is closed again.
     */
    public static void fillEmbedded(long pointer, long services) {
        Instance t = new Instance(new WbemClassObject(pointer)).setString("Id", "e1");
        try (Instance inner = part(services, "inner", 0);
                Instance outer = part(services, "outer \u65e5", -1L).setObject("Inner", inner);
                Instance first = part(services, "first", 1);
                Instance second = part(services, "second", 2)) {
            t.setObject("Part", outer).setObjects("Parts", first, second);
        }
        t.setDateTimes("Whens", LEAP, LEAP.withOffsetSameLocal(ZoneOffset.UTC).withNano(0))
                .setIntervals("Spans", Duration.ZERO, Duration.ofDays(99_999_999).plusNanos(1000));
    }

    private static void describePart(StringBuilder text, Instance part) {
        if (part == null) {
            text.append("null");
            return;
        }
        try (part) {
            text.append(part.className()).append('(').append(part.getString("Label")).append(' ')
                    .append(Long.toUnsignedString(part.getUnsignedLong("Size"))).append(' ')
                    .append(part.getDateTime("Seen")).append(" inner=");
            describePart(text, part.getObject("Inner"));
            text.append(')');
        }
    }

    /** The embedded objects and datetime arrays of a Velt_Types instance, read back typed. */
    public static String describeEmbedded(long pointer) {
        Instance t = new Instance(new WbemClassObject(pointer));
        StringBuilder text = new StringBuilder("Part=");
        describePart(text, t.getObject("Part"));
        text.append(" Parts=");
        Instance[] parts = t.getObjects("Parts");
        for (Instance part : parts == null ? new Instance[0] : parts) {
            describePart(text, part);
        }
        return text.append(" Whens=").append(Arrays.toString(t.getDateTimes("Whens")))
                .append(" Spans=").append(Arrays.toString(t.getIntervals("Spans"))).toString();
    }

    /**
     * Empty arrays of embedded objects and datetimes read back empty; null values, written as
     * null, read back as null.
     */
    public static String embeddedNulls(long pointer) {
        Instance t = new Instance(new WbemClassObject(pointer)).setObjects("Parts")
                .setDateTimes("Whens").setIntervals("Spans");
        String empty = t.getObjects("Parts").length + "" + t.getDateTimes("Whens").length
                + t.getIntervals("Spans").length + " ";
        t.setObject("Part", null)
                .setObjects("Parts", (Instance[]) null).setDateTimes("Whens", (OffsetDateTime[]) null)
                .set("Spans", null);
        return empty + t.getObject("Part") + " " + t.getObjects("Parts") + " " + t.getDateTimes("Whens")
                + " " + t.getIntervals("Spans") + " " + t.isNull("Part");
    }

    /** What the embedded-object and datetime-array accessors refuse, one failure per case. */
    public static String embeddedRefusals(long pointer, long services) {
        Instance t = new Instance(new WbemClassObject(pointer));
        try (Instance part = part(services, "p", 1)) {
            List<Runnable> cases = List.of(() -> t.getObject("Id"), () -> t.getObjects("Part"),
                    () -> t.setObjects("Parts", part, null), () -> t.setObject("Id", part),
                    () -> t.getDateTimes("Spans"), () -> t.getIntervals("Whens"),
                    () -> t.setDateTimes("Whens", LEAP, null),
                    () -> t.setIntervals("Spans", Duration.ofSeconds(-1)));
            return failures(cases);
        }
    }
}
