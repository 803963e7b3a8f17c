package com.norvex.test.providers;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import com.norvex.sysmgt.cim.wmi.wbem.WbemException;
import java.util.Arrays;

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

    /** A new instance through the namespace, handed over with its one reference. */
    public static int spawn(long services, String className) {
        return WbemClassObject.spawn(services, className).handOver();
    }

    /** Spawns and closes, returning the failure text when spawning fails. */
    public static String spawnAndClose(long services, String className) {
        try (WbemClassObject object = WbemClassObject.spawn(services, className)) {
            return object.className();
        } catch (WbemException e) {
            return e.getMessage();
        }
    }
}
