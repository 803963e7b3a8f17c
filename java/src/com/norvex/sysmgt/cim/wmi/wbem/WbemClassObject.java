package com.norvex.sysmgt.cim.wmi.wbem;

import java.util.Arrays;
import java.util.List;
import java.util.Objects;

/**
 * A WMI class object or instance, named by its IWbemClassObject pointer. A wrapper either
 * borrows its object (the caller keeps it alive: the constructor's case, as for method
 * parameters WMI passes in) or owns one reference on it ({@link #adopt}, {@link #spawn}), which
 * {@link #close} releases or {@link #handOver} passes on.
 *
 * <p>Pointers are 32-bit values: they arrive as a sign-extended {@code long} and leave as an
 * {@code int}.
 */
public class WbemClassObject implements AutoCloseable {
    // VARTYPE values the natives report.
    static final int VT_EMPTY = 0;
    static final int VT_NULL = 1;
    static final int VT_I2 = 2;
    static final int VT_I4 = 3;
    static final int VT_R4 = 4;
    static final int VT_R8 = 5;
    static final int VT_BSTR = 8;
    static final int VT_BOOL = 11;
    static final int VT_I1 = 16;
    static final int VT_UI1 = 17;
    static final int VT_UI2 = 18;
    static final int VT_UI4 = 19;
    static final int VT_I8 = 20;
    static final int VT_UI8 = 21;
    static final int VT_ARRAY = 0x2000;

    static {
        NativeLibrary.ensureLoaded();
    }

    private long pointer;
    private boolean owned;

    /** Borrows the object at {@code pointer}; 0 stands for "no object". */
    public WbemClassObject(long pointer) {
        this(pointer, false);
    }

    private WbemClassObject(long pointer, boolean owned) {
        this.pointer = pointer;
        this.owned = owned && pointer != 0;
    }

    /** Takes over one reference the caller holds on the object. */
    public static WbemClassObject adopt(long pointer) {
        return new WbemClassObject(pointer, true);
    }

    /**
     * A new blank instance of {@code className}, fetched through the namespace {@code services}
     * (an IWbemServices pointer) with the WMI call context of the current thread; the wrapper
     * owns its one reference.
     */
    public static WbemClassObject spawn(long services, String className) {
        Objects.requireNonNull(className, "className");
        return new WbemClassObject(nSpawnInstance(services, className), true);
    }

    /** Whether this wrapper stands for no object. */
    public boolean isEmpty() {
        return pointer == 0;
    }

    /** The object's pointer, sign-extended; 0 for none. */
    public long pointer() {
        return pointer;
    }

    public boolean isOwned() {
        return owned;
    }

    /** The value of "__CLASS". */
    public String className() {
        return getString("__CLASS");
    }

    /** The value of "__RELPATH": the class and key values, or null when keys are missing. */
    public String relativePath() {
        return getString("__RELPATH");
    }

    /** The names of the key properties, or of all non-system properties. */
    public List<String> propertyNames(boolean keysOnly) {
        return Arrays.asList(nNames(live(), keysOnly));
    }

    /**
     * The value as the Java type that fits it: String, Integer (up to 32-bit signed), Long
     * (unsigned 32-bit and 64-bit), Boolean, Double, String[] or long[]; null for a null value.
     */
    public Object get(String name) {
        int type = valueType(name);
        switch (type) {
            case VT_EMPTY:
            case VT_NULL:
                return null;
            case VT_BSTR:
                return nGetString(live(), name);
            case VT_BOOL:
                return nGetBoolean(live(), name);
            case VT_R4:
            case VT_R8:
                return nGetDouble(live(), name);
            case VT_I1:
            case VT_UI1:
            case VT_I2:
            case VT_UI2:
            case VT_I4:
                return (int) nGetInteger(live(), name);
            case VT_UI4:
            case VT_I8:
            case VT_UI8:
                return nGetInteger(live(), name);
            case VT_ARRAY | VT_BSTR:
                return nGetStrings(live(), name);
            default:
                if ((type & VT_ARRAY) != 0) {
                    return nGetIntegers(live(), name);
                }
                throw new UnsupportedOperationException(
                        "Property " + name + " has variant type " + type + ", which Java cannot read");
        }
    }

    /** The variant type of the property's current value. */
    public int valueType(String name) {
        return nValueType(live(), requireName(name));
    }

    public boolean isNull(String name) {
        int type = valueType(name);
        return type == VT_NULL || type == VT_EMPTY;
    }

    /** Text, or any value WMI can show as text; null for a null value. */
    public String getString(String name) {
        return nGetString(live(), requireName(name));
    }

    /** An integer value; 64-bit values, which WMI keeps as text, are parsed. */
    public long getLong(String name) {
        int type = valueType(name);
        if (type == VT_NULL || type == VT_EMPTY) {
            throw new NullPointerException("Property " + name + " is null");
        }
        if (type == VT_BSTR) {
            String text = getString(name);
            try {
                return Long.parseLong(text.trim());
            } catch (NumberFormatException e) {
                if (!text.trim().isEmpty() && !text.trim().startsWith("-")) {
                    return Long.parseUnsignedLong(text.trim());
                }
                throw e;
            }
        }
        return nGetInteger(live(), name);
    }

    public int getInt(String name) {
        long value = getLong(name);
        if (value != (int) value && value != (value & 0xFFFFFFFFL)) {
            throw new ArithmeticException("Property " + name + " holds " + value + ", beyond an int");
        }
        return (int) value;
    }

    public boolean getBoolean(String name) {
        if (isNull(name)) {
            throw new NullPointerException("Property " + name + " is null");
        }
        return nGetBoolean(live(), name);
    }

    public double getDouble(String name) {
        if (isNull(name)) {
            throw new NullPointerException("Property " + name + " is null");
        }
        return nGetDouble(live(), name);
    }

    /** An array of text, or null. */
    public String[] getStrings(String name) {
        return nGetStrings(live(), requireName(name));
    }

    /** An array of integers of any width, or null. */
    public long[] getLongs(String name) {
        return nGetIntegers(live(), requireName(name));
    }

    /** An array of 32-bit integers, or null. */
    public int[] getInts(String name) {
        long[] values = getLongs(name);
        if (values == null) {
            return null;
        }
        int[] result = new int[values.length];
        for (int i = 0; i < values.length; i++) {
            result[i] = (int) values[i];
        }
        return result;
    }

    /** Writes text; null writes a null value. */
    public void putString(String name, String value) {
        nPutString(live(), requireName(name), value);
    }

    public void putInt(String name, int value) {
        nPutInt(live(), requireName(name), value);
    }

    /** 64-bit values travel as decimal text, as WMI keeps them. */
    public void putLong(String name, long value) {
        nPutString(live(), requireName(name), Long.toString(value));
    }

    public void putBoolean(String name, boolean value) {
        nPutBoolean(live(), requireName(name), value);
    }

    public void putDouble(String name, double value) {
        nPutDouble(live(), requireName(name), value);
    }

    public void putStrings(String name, String[] values) {
        nPutStrings(live(), requireName(name), values);
    }

    public void putInts(String name, int[] values) {
        nPutInts(live(), requireName(name), values);
    }

    public void putNull(String name) {
        nPutString(live(), requireName(name), null);
    }

    /**
     * Writes a value of any type {@link #get} returns (Integer, Short and Byte as 32-bit,
     * Long as 64-bit text); null writes a null value.
     */
    public void put(String name, Object value) {
        if (value == null) {
            putNull(name);
        } else if (value instanceof String) {
            putString(name, (String) value);
        } else if (value instanceof Integer || value instanceof Short || value instanceof Byte) {
            putInt(name, ((Number) value).intValue());
        } else if (value instanceof Long) {
            putLong(name, (Long) value);
        } else if (value instanceof Boolean) {
            putBoolean(name, (Boolean) value);
        } else if (value instanceof Double || value instanceof Float) {
            putDouble(name, ((Number) value).doubleValue());
        } else if (value instanceof String[]) {
            putStrings(name, (String[]) value);
        } else if (value instanceof int[]) {
            putInts(name, (int[]) value);
        } else {
            throw new IllegalArgumentException(
                    "Property " + name + " cannot take a value of " + value.getClass().getName());
        }
    }

    /** Adds one reference; the new count. */
    public int addRef() {
        return nAddRef(live());
    }

    /** Releases one reference; the new count. */
    public int release() {
        return nRelease(live());
    }

    /**
     * The pointer as the provider takes it back, carrying one reference for the receiver: an
     * owned wrapper passes its own reference on and becomes empty; a borrowed one adds a
     * reference for the receiver.
     */
    public synchronized int handOver() {
        long value = live();
        if (owned) {
            owned = false;
            pointer = 0;
        } else {
            nAddRef(value);
        }
        return (int) value;
    }

    /** Releases the reference an owned wrapper holds; the wrapper is empty afterwards. */
    @Override
    public synchronized void close() {
        if (owned && pointer != 0) {
            long value = pointer;
            pointer = 0;
            owned = false;
            nRelease(value);
        }
    }

    @Override
    public String toString() {
        return pointer == 0 ? "WbemClassObject[none]"
                : String.format("WbemClassObject[0x%08x%s]", (int) pointer, owned ? ", owned" : "");
    }

    private synchronized long live() {
        if (pointer == 0) {
            throw new IllegalStateException("No WMI object behind this WbemClassObject");
        }
        return pointer;
    }

    private static String requireName(String name) {
        return Objects.requireNonNull(name, "property name");
    }

    static native int nValueType(long object, String name);

    static native String nGetString(long object, String name);

    static native long nGetInteger(long object, String name);

    static native boolean nGetBoolean(long object, String name);

    static native double nGetDouble(long object, String name);

    static native String[] nGetStrings(long object, String name);

    static native long[] nGetIntegers(long object, String name);

    static native void nPutString(long object, String name, String value);

    static native void nPutInt(long object, String name, int value);

    static native void nPutBoolean(long object, String name, boolean value);

    static native void nPutDouble(long object, String name, double value);

    static native void nPutStrings(long object, String name, String[] values);

    static native void nPutInts(long object, String name, int[] values);

    static native String[] nNames(long object, boolean keysOnly);

    static native long nSpawnInstance(long services, String className);

    static native int nAddRef(long object);

    static native int nRelease(long object);
}
