package com.norvex.sysmgt.cim.wmi.wbem;

import java.math.BigInteger;
import java.time.Duration;
import java.time.OffsetDateTime;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
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

    /** CIM types, as {@link #cimType} answers them. */
    public static final int CIM_SINT8 = 16;
    public static final int CIM_UINT8 = 17;
    public static final int CIM_SINT16 = 2;
    public static final int CIM_UINT16 = 18;
    public static final int CIM_SINT32 = 3;
    public static final int CIM_UINT32 = 19;
    public static final int CIM_SINT64 = 20;
    public static final int CIM_UINT64 = 21;
    public static final int CIM_REAL32 = 4;
    public static final int CIM_REAL64 = 5;
    public static final int CIM_BOOLEAN = 11;
    public static final int CIM_STRING = 8;
    public static final int CIM_DATETIME = 101;
    public static final int CIM_REFERENCE = 102;
    public static final int CIM_CHAR16 = 103;
    public static final int CIM_OBJECT = 13;
    public static final int CIM_FLAG_ARRAY = 0x2000;

    /** The elements each narrower integer array type holds. */
    private static final Map<Integer, long[]> INTEGER_RANGES = Map.of(
            CIM_SINT8, new long[] {Byte.MIN_VALUE, Byte.MAX_VALUE},
            CIM_UINT8, new long[] {0, 0xFF},
            CIM_SINT16, new long[] {Short.MIN_VALUE, Short.MAX_VALUE},
            CIM_UINT16, new long[] {0, 0xFFFF},
            CIM_CHAR16, new long[] {0, 0xFFFF},
            CIM_SINT32, new long[] {Integer.MIN_VALUE, Integer.MAX_VALUE},
            CIM_UINT32, new long[] {0, 0xFFFFFFFFL});

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

    /**
     * The definition of {@code className}, fetched through the namespace {@code services} with
     * the WMI call context of the current thread; the wrapper owns its one reference. Spawn as
     * many instances from it as needed with {@link #spawnInstance}.
     */
    public static WbemClassObject fetchClass(long services, String className) {
        Objects.requireNonNull(className, "className");
        return new WbemClassObject(nGetClass(services, className), true);
    }

    /**
     * A new blank instance of this class definition; the wrapper owns its one reference.
     *
     * @param className the class's name, for the message of a failure
     */
    public WbemClassObject spawnInstance(String className) {
        return new WbemClassObject(nSpawnFrom(live(), className), true);
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
     * The value as the Java type that fits the property's CIM type, or null for a null value:
     * <ul>
     * <li>String for string, datetime, interval and reference properties (the text WMI keeps);
     * <li>Integer for sint8, uint8, sint16, uint16, char16, sint32, and uint32 values up to
     *     {@code Integer.MAX_VALUE}; Long for larger uint32 values and for sint64; Long for
     *     uint64 values up to {@code Long.MAX_VALUE} and {@link BigInteger} above it;
     * <li>Boolean; Double for real32 and real64;
     * <li>for arrays: String[], long[] (every integer type; a uint64 array holding a value above
     *     {@code Long.MAX_VALUE} comes as BigInteger[]), boolean[], double[];
     * <li>WbemClassObject for an embedded object and WbemClassObject[] for an array of them,
     *     each owning its reference (see {@link #getObject}): close them.
     * </ul>
     * {@link #put} takes every one of these back.
     */
    public Object get(String name) {
        int types = types(name);
        int type = types & 0xFFFF;
        int cim = types >>> 16;
        if (type == VT_NULL || type == VT_EMPTY) {
            return null;
        }
        if ((cim & CIM_FLAG_ARRAY) != 0) {
            switch (cim & ~CIM_FLAG_ARRAY) {
                case CIM_BOOLEAN:
                    return getBooleans(name);
                case CIM_REAL32:
                case CIM_REAL64:
                    return getDoubles(name);
                case CIM_UINT64: {
                    BigInteger[] values = bigIntegers(nGetStrings(live(), name));
                    for (BigInteger value : values) {
                        if (value.bitLength() > 63) {
                            return values;
                        }
                    }
                    return getLongs(name);
                }
                case CIM_STRING:
                case CIM_DATETIME:
                case CIM_REFERENCE:
                    return getStrings(name);
                case CIM_OBJECT:
                    return getObjects(name);
                default:
                    return getLongs(name);
            }
        }
        switch (cim) {
            case CIM_SINT64:
                return getLong(name);
            case CIM_UINT64: {
                BigInteger value = getBigInteger(name);
                return value.bitLength() > 63 ? value : (Object) value.longValue();
            }
            case CIM_UINT32: {
                long value = getLong(name);
                return value > Integer.MAX_VALUE ? (Object) value : (Object) (int) value;
            }
            case CIM_OBJECT:
                return getObject(name);
            default:
                break;
        }
        switch (type) {
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
            default:
                throw new UnsupportedOperationException(
                        "Property " + name + " has variant type " + type + ", which Java cannot read");
        }
    }

    /** The variant type of the property's current value (VT_NULL for a null value). */
    public int valueType(String name) {
        return types(name) & 0xFFFF;
    }

    /**
     * The property's CIM type as the class declares it: one of the {@code CIM_} constants,
     * with {@link #CIM_FLAG_ARRAY} added for an array.
     */
    public int cimType(String name) {
        return types(name) >>> 16;
    }

    /** Whether the property holds no value. Every getter below says what it does then. */
    public boolean isNull(String name) {
        int type = valueType(name);
        return type == VT_NULL || type == VT_EMPTY;
    }

    /** Text, or any value WMI can show as text; null for a null value. */
    public String getString(String name) {
        return nGetString(live(), requireName(name));
    }

    /**
     * An integer value of any CIM integer type, uint32 and uint64 read as unsigned.
     *
     * @throws NullPointerException for a null value
     * @throws ArithmeticException for a uint64 value above {@code Long.MAX_VALUE}: read it with
     *     {@link #getUnsignedLong} or {@link #getBigInteger}
     */
    public long getLong(String name) {
        int types = types(name);
        int type = types & 0xFFFF;
        int cim = types >>> 16;
        if (type == VT_NULL || type == VT_EMPTY) {
            throw new NullPointerException("Property " + name + " is null");
        }
        if (type == VT_BSTR) {
            BigInteger value = new BigInteger(getString(name).trim());
            if (value.bitLength() > 63) {
                throw new ArithmeticException("Property " + name + " holds " + value
                        + ", beyond a long: read it with getUnsignedLong or getBigInteger");
            }
            return value.longValue();
        }
        return unsigned(cim, nGetInteger(live(), name));
    }

    /**
     * An unsigned 64-bit value in the bits of a long: every uint64 value, 2^63 and above as a
     * negative long (see {@code Long.toUnsignedString}, {@code Long.compareUnsigned}).
     * {@link #putUnsignedLong} writes it back unchanged.
     *
     * @throws NullPointerException for a null value
     * @throws ArithmeticException for a negative value of a signed property
     */
    public long getUnsignedLong(String name) {
        if (isNull(name)) {
            throw new NullPointerException("Property " + name + " is null");
        }
        BigInteger value = getBigInteger(name);
        if (value.signum() < 0 || value.bitLength() > 64) {
            throw new ArithmeticException("Property " + name + " holds " + value
                    + ", which is not an unsigned 64-bit value");
        }
        return value.longValue();
    }

    /** An integer value of any CIM integer type, exactly; null for a null value. */
    public BigInteger getBigInteger(String name) {
        int type = valueType(name);
        if (type == VT_NULL || type == VT_EMPTY) {
            return null;
        }
        return type == VT_BSTR ? new BigInteger(getString(name).trim())
                : BigInteger.valueOf(getLong(name));
    }

    /**
     * An integer value that fits an int; a uint32 value above {@code Integer.MAX_VALUE} comes
     * back as its bits (negative), as before: read such values with {@link #getLong}.
     *
     * @throws NullPointerException for a null value
     * @throws ArithmeticException for a value beyond 32 bits
     */
    public int getInt(String name) {
        return narrow(name, getLong(name));
    }

    /** @throws NullPointerException for a null value */
    public boolean getBoolean(String name) {
        if (isNull(name)) {
            throw new NullPointerException("Property " + name + " is null");
        }
        return nGetBoolean(live(), name);
    }

    /** Any number, as a double. @throws NullPointerException for a null value */
    public double getDouble(String name) {
        if (isNull(name)) {
            throw new NullPointerException("Property " + name + " is null");
        }
        return nGetDouble(live(), name);
    }

    /**
     * A datetime value; null for a null value. WMI keeps microseconds and the offset from UTC in
     * whole minutes.
     *
     * @throws java.time.DateTimeException when the value is an interval, or not a complete time
     */
    public OffsetDateTime getDateTime(String name) {
        String text = getString(name);
        return text == null ? null : CimDateTime.parseDateTime(text);
    }

    /**
     * An interval value (a datetime property that holds a span); null for a null value.
     *
     * @throws java.time.DateTimeException when the value is a point in time
     */
    public Duration getInterval(String name) {
        String text = getString(name);
        return text == null ? null : CimDateTime.parseInterval(text);
    }

    /** An array of text (also of datetime and reference values), or null. */
    public String[] getStrings(String name) {
        return nGetStrings(live(), requireName(name));
    }

    /**
     * An array of datetime values, each as {@link #getDateTime} reads it; null for a null value.
     *
     * @throws java.time.DateTimeException when an element is an interval, or not a complete time
     */
    public OffsetDateTime[] getDateTimes(String name) {
        String[] texts = getStrings(name);
        return texts == null ? null
                : Arrays.stream(texts).map(CimDateTime::parseDateTime).toArray(OffsetDateTime[]::new);
    }

    /**
     * An array of interval values, each as {@link #getInterval} reads it; null for a null value.
     *
     * @throws java.time.DateTimeException when an element is a point in time
     */
    public Duration[] getIntervals(String name) {
        String[] texts = getStrings(name);
        return texts == null ? null
                : Arrays.stream(texts).map(CimDateTime::parseInterval).toArray(Duration[]::new);
    }

    /**
     * The embedded object a property of CIM type object holds, or null for a null value. The
     * wrapper owns one reference on it: close it when done with it (the object stays alive
     * while the property holds it, whatever the wrapper does).
     *
     * @throws ClassCastException when the property holds no object
     */
    public WbemClassObject getObject(String name) {
        long embedded = nGetObject(live(), requireName(name));
        return embedded == 0 ? null : adopt(embedded);
    }

    /**
     * The embedded objects of an object array property, each wrapper owning one reference
     * (close every one, see {@link #getObject}); null for a null value.
     */
    public WbemClassObject[] getObjects(String name) {
        long[] pointers = nGetObjects(live(), requireName(name));
        if (pointers == null) {
            return null;
        }
        WbemClassObject[] result = new WbemClassObject[pointers.length];
        for (int i = 0; i < pointers.length; i++) {
            result[i] = adopt(pointers[i]);
        }
        return result;
    }

    /**
     * An array of integers of any CIM integer type, uint32 and uint64 read as unsigned; null
     * for a null value.
     *
     * @throws ArithmeticException for a uint64 element above {@code Long.MAX_VALUE}: read those
     *     with {@link #getUnsignedLongs}
     */
    public long[] getLongs(String name) {
        int cim = cimType(name) & ~CIM_FLAG_ARRAY;
        if (cim == CIM_SINT64 || cim == CIM_UINT64) {
            BigInteger[] values = bigIntegers(getStrings(name));
            if (values == null) {
                return null;
            }
            long[] result = new long[values.length];
            for (int i = 0; i < values.length; i++) {
                if (values[i].bitLength() > 63) {
                    throw new ArithmeticException("Property " + name + " holds " + values[i]
                            + ", beyond a long: read it with getUnsignedLongs");
                }
                result[i] = values[i].longValue();
            }
            return result;
        }
        long[] values = nGetIntegers(live(), name);
        for (int i = 0; values != null && i < values.length; i++) {
            values[i] = unsigned(cim, values[i]);
        }
        return values;
    }

    /** Every uint64 element in the bits of a long (see {@link #getUnsignedLong}); null for null. */
    public long[] getUnsignedLongs(String name) {
        if ((cimType(name) & ~CIM_FLAG_ARRAY) != CIM_UINT64) {
            return getLongs(name);
        }
        String[] texts = getStrings(name);
        if (texts == null) {
            return null;
        }
        long[] result = new long[texts.length];
        for (int i = 0; i < texts.length; i++) {
            result[i] = Long.parseUnsignedLong(texts[i].trim());
        }
        return result;
    }

    /**
     * An array of integers that fit an int (uint32 elements as their bits, see
     * {@link #getInt}), or null.
     *
     * @throws ArithmeticException for an element beyond 32 bits
     */
    public int[] getInts(String name) {
        long[] values = getLongs(name);
        if (values == null) {
            return null;
        }
        int[] result = new int[values.length];
        for (int i = 0; i < values.length; i++) {
            result[i] = narrow(name, values[i]);
        }
        return result;
    }

    /** An array of booleans, or null. */
    public boolean[] getBooleans(String name) {
        return nGetBooleans(live(), requireName(name));
    }

    /** An array of real32 or real64 values, or null. */
    public double[] getDoubles(String name) {
        return nGetDoubles(live(), requireName(name));
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

    /** Writes the long's bits as an unsigned value: the counterpart of {@link #getUnsignedLong}. */
    public void putUnsignedLong(String name, long value) {
        nPutString(live(), requireName(name), Long.toUnsignedString(value));
    }

    /** Writes an integer of any size the property takes; null writes a null value. */
    public void putBigInteger(String name, BigInteger value) {
        nPutString(live(), requireName(name), value == null ? null : value.toString());
    }

    public void putBoolean(String name, boolean value) {
        nPutBoolean(live(), requireName(name), value);
    }

    public void putDouble(String name, double value) {
        nPutDouble(live(), requireName(name), value);
    }

    /** Writes a datetime value, cut to microseconds; null writes a null value. */
    public void putDateTime(String name, OffsetDateTime value) {
        putString(name, value == null ? null : CimDateTime.formatDateTime(value));
    }

    /** Writes an interval value, cut to microseconds; null writes a null value. */
    public void putInterval(String name, Duration value) {
        putString(name, value == null ? null : CimDateTime.formatInterval(value));
    }

    /**
     * Writes an array of datetime values, each cut to microseconds; null writes a null value.
     *
     * @throws NullPointerException for a null element: WMI arrays hold none
     */
    public void putDateTimes(String name, OffsetDateTime[] values) {
        putStrings(name, values == null ? null : Arrays.stream(values)
                .map(value -> CimDateTime.formatDateTime(element(name, value)))
                .toArray(String[]::new));
    }

    /**
     * Writes an array of interval values, each cut to microseconds; null writes a null value.
     *
     * @throws NullPointerException for a null element: WMI arrays hold none
     */
    public void putIntervals(String name, Duration[] values) {
        putStrings(name, values == null ? null : Arrays.stream(values)
                .map(value -> CimDateTime.formatInterval(element(name, value)))
                .toArray(String[]::new));
    }

    /**
     * Writes an embedded object to a property of CIM type object; null writes a null value.
     * The property takes a reference of its own, so the caller still closes a wrapper it owns.
     * Fill the object before writing it: whether later changes show through the property is
     * up to WMI.
     */
    public void putObject(String name, WbemClassObject value) {
        nPutObject(live(), requireName(name), value == null ? 0 : value.live());
    }

    /**
     * Writes an array of embedded objects (see {@link #putObject}); null writes a null value.
     *
     * @throws NullPointerException for a null element: WMI arrays hold none
     */
    public void putObjects(String name, WbemClassObject[] values) {
        long[] pointers = null;
        if (values != null) {
            pointers = new long[values.length];
            for (int i = 0; i < values.length; i++) {
                pointers[i] = element(name, values[i]).live();
            }
        }
        nPutObjects(live(), requireName(name), pointers);
    }

    /** Writes an array of text (also datetime and reference values); null writes a null value. */
    public void putStrings(String name, String[] values) {
        nPutStrings(live(), requireName(name), values);
    }

    public void putInts(String name, int[] values) {
        putLongs(name, values == null ? null : Arrays.stream(values).asLongStream().toArray());
    }

    /**
     * Writes an array of integers to a property of any CIM integer array type, each element
     * checked against that type (uint32 elements from 0 to 2^32-1); null writes a null value.
     *
     * @throws IllegalArgumentException for an element the property's type cannot hold
     */
    public void putLongs(String name, long[] values) {
        int cim = cimType(name) & ~CIM_FLAG_ARRAY;
        if (values == null) {
            putNull(name);
        } else if (cim == CIM_SINT64 || cim == CIM_UINT64) {
            putStrings(name, Arrays.stream(values).mapToObj(Long::toString).toArray(String[]::new));
        } else {
            long low = INTEGER_RANGES.getOrDefault(cim, new long[] {Integer.MIN_VALUE, 0})[0];
            long high = INTEGER_RANGES.getOrDefault(cim, new long[] {0, Integer.MAX_VALUE})[1];
            for (long value : values) {
                if (value < low || value > high) {
                    throw new IllegalArgumentException("Property " + name + " takes elements from "
                            + low + " to " + high + ", not " + value);
                }
            }
            int element = cim == CIM_UINT8 ? VT_UI1
                    : cim == CIM_SINT8 || cim == CIM_SINT16 || cim == CIM_CHAR16 ? VT_I2 : VT_I4;
            nPutIntegers(live(), name, values, element);
        }
    }

    /** Writes each long's bits as an unsigned 64-bit element; null writes a null value. */
    public void putUnsignedLongs(String name, long[] values) {
        putStrings(name, values == null ? null
                : Arrays.stream(values).mapToObj(Long::toUnsignedString).toArray(String[]::new));
    }

    public void putBooleans(String name, boolean[] values) {
        nPutBooleans(live(), requireName(name), values);
    }

    /** Writes an array of reals to a real32 or real64 array property; null writes null. */
    public void putDoubles(String name, double[] values) {
        int cim = cimType(name) & ~CIM_FLAG_ARRAY;
        nPutDoubles(live(), name, values, cim == CIM_REAL32 ? VT_R4 : VT_R8);
    }

    public void putNull(String name) {
        nPutString(live(), requireName(name), null);
    }

    /**
     * Writes a value of any type {@link #get} returns (Integer, Short and Byte as 32-bit, Long
     * and BigInteger as 64-bit text), an OffsetDateTime or a Duration, an int[], or an array of
     * OffsetDateTime or Duration; null writes a null value.
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
        } else if (value instanceof BigInteger) {
            putBigInteger(name, (BigInteger) value);
        } else if (value instanceof Boolean) {
            putBoolean(name, (Boolean) value);
        } else if (value instanceof Double || value instanceof Float) {
            putDouble(name, ((Number) value).doubleValue());
        } else if (value instanceof OffsetDateTime) {
            putDateTime(name, (OffsetDateTime) value);
        } else if (value instanceof Duration) {
            putInterval(name, (Duration) value);
        } else if (value instanceof String[]) {
            putStrings(name, (String[]) value);
        } else if (value instanceof int[]) {
            putInts(name, (int[]) value);
        } else if (value instanceof long[]) {
            putLongs(name, (long[]) value);
        } else if (value instanceof BigInteger[]) {
            putStrings(name, Arrays.stream((BigInteger[]) value).map(BigInteger::toString)
                    .toArray(String[]::new));
        } else if (value instanceof boolean[]) {
            putBooleans(name, (boolean[]) value);
        } else if (value instanceof double[]) {
            putDoubles(name, (double[]) value);
        } else if (value instanceof OffsetDateTime[]) {
            putDateTimes(name, (OffsetDateTime[]) value);
        } else if (value instanceof Duration[]) {
            putIntervals(name, (Duration[]) value);
        } else if (value instanceof WbemClassObject) {
            putObject(name, (WbemClassObject) value);
        } else if (value instanceof WbemClassObject[]) {
            putObjects(name, (WbemClassObject[]) value);
        } else {
            throw new IllegalArgumentException(
                    "Property " + name + " cannot take a value of " + value.getClass().getName());
        }
    }

    /**
     * Whether the namespace {@code services} (an IWbemServices pointer) knows the class; asked
     * with the WMI call context of the current thread.
     */
    public static boolean classExists(long services, String className) {
        return nClassExists(services, Objects.requireNonNull(className, "className"));
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

    /** The value type in the low 16 bits, the CIM type in the high ones: one Get for both. */
    private int types(String name) {
        return nTypes(live(), requireName(name));
    }

    /** WMI carries uint32 in a signed 32-bit variant and char16 in a signed 16-bit one. */
    private static long unsigned(int cim, long value) {
        return cim == CIM_UINT32 ? value & 0xFFFFFFFFL : cim == CIM_CHAR16 ? value & 0xFFFF : value;
    }

    private static int narrow(String name, long value) {
        if (value != (int) value && value != (value & 0xFFFFFFFFL)) {
            throw new ArithmeticException("Property " + name + " holds " + value + ", beyond an int");
        }
        return (int) value;
    }

    private static BigInteger[] bigIntegers(String[] texts) {
        if (texts == null) {
            return null;
        }
        BigInteger[] result = new BigInteger[texts.length];
        for (int i = 0; i < texts.length; i++) {
            result[i] = new BigInteger(texts[i].trim());
        }
        return result;
    }

    private static String requireName(String name) {
        return Objects.requireNonNull(name, "property name");
    }

    private static <T> T element(String name, T value) {
        return Objects.requireNonNull(value,
                () -> "An array written to property " + name + " holds null");
    }

    static native int nTypes(long object, String name);

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

    static native void nPutIntegers(long object, String name, long[] values, int elementType);

    static native void nPutBooleans(long object, String name, boolean[] values);

    static native void nPutDoubles(long object, String name, double[] values, int elementType);

    static native long nGetObject(long object, String name);

    static native long[] nGetObjects(long object, String name);

    static native void nPutObject(long object, String name, long embedded);

    static native void nPutObjects(long object, String name, long[] embedded);

    static native boolean[] nGetBooleans(long object, String name);

    static native double[] nGetDoubles(long object, String name);

    static native boolean nClassExists(long services, String className);

    static native String[] nNames(long object, boolean keysOnly);

    static native long nSpawnInstance(long services, String className);

    static native long nGetClass(long services, String className);

    static native long nSpawnFrom(long classObject, String className);

    static native int nAddRef(long object);

    static native int nRelease(long object);
}
