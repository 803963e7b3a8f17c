package com.norvex.sysmgt.provider;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import java.math.BigInteger;
import java.time.Duration;
import java.time.OffsetDateTime;
import java.util.List;
import java.util.Objects;

/**
 * A WMI instance or parameter object with typed property access. Instances made through
 * {@link ProviderContext} belong to the provider until it returns them to the server; close the
 * ones it makes and does not return.
 *
 * <p>Null values: {@link #isNull} tells them. Getters of objects ({@code getString},
 * {@code getBigInteger}, {@code getDateTime}, {@code getInterval}, {@code getObject}, every
 * array getter and {@code get}) answer null for them; getters of primitives ({@code getInt},
 * {@code getLong}, {@code getUnsignedLong}, {@code getBoolean}, {@code getDouble}) throw
 * NullPointerException.
 * A property the class does not have throws {@code WbemException}; a value of a type the getter
 * cannot read throws ClassCastException.
 *
 * <p>Embedded objects: {@code getObject} and {@code getObjects} answer instances that hold a
 * reference of their own, so close them (try-with-resources) as the ones you make.
 */
public final class Instance implements AutoCloseable {
    private final WbemClassObject object;

    public Instance(WbemClassObject object) {
        this.object = Objects.requireNonNull(object, "object");
    }

    /** The wrapped object, for code that works with WbemClassObject directly. */
    public WbemClassObject wbemObject() {
        return object;
    }

    /** Whether there is no object behind this instance (a method without in-parameters). */
    public boolean isEmpty() {
        return object.isEmpty();
    }

    public String className() {
        return object.className();
    }

    public String relativePath() {
        return object.relativePath();
    }

    public List<String> keyNames() {
        return object.propertyNames(true);
    }

    public List<String> propertyNames() {
        return object.propertyNames(false);
    }

    /** Whether the property holds no value. */
    public boolean isNull(String name) {
        return object.isNull(name);
    }

    /** The property's CIM type ({@code WbemClassObject.CIM_...}, array flag included). */
    public int cimType(String name) {
        return object.cimType(name);
    }

    /**
     * The value in the Java type that fits it, or null (see {@link WbemClassObject#get}); an
     * embedded object comes as an Instance and an array of them as Instance[], to be closed.
     */
    public Object get(String name) {
        Object value = object.get(name);
        if (value instanceof WbemClassObject) {
            return new Instance((WbemClassObject) value);
        }
        if (value instanceof WbemClassObject[]) {
            return wrap((WbemClassObject[]) value);
        }
        return value;
    }

    /** Text, or any value as text; null for a null value. */
    public String getString(String name) {
        return object.getString(name);
    }

    /** See {@link WbemClassObject#getInt}; throws NullPointerException for a null value. */
    public int getInt(String name) {
        return object.getInt(name);
    }

    /**
     * Any integer, uint32 and uint64 as unsigned; throws NullPointerException for a null value
     * and ArithmeticException for a uint64 value above {@code Long.MAX_VALUE}.
     */
    public long getLong(String name) {
        return object.getLong(name);
    }

    /** Every uint64 value, in the bits of a long; throws NullPointerException for null. */
    public long getUnsignedLong(String name) {
        return object.getUnsignedLong(name);
    }

    /** Any integer, exactly; null for a null value. */
    public BigInteger getBigInteger(String name) {
        return object.getBigInteger(name);
    }

    /** Throws NullPointerException for a null value. */
    public boolean getBoolean(String name) {
        return object.getBoolean(name);
    }

    /** Throws NullPointerException for a null value. */
    public double getDouble(String name) {
        return object.getDouble(name);
    }

    /** A datetime value; null for a null value. */
    public OffsetDateTime getDateTime(String name) {
        return object.getDateTime(name);
    }

    /** An interval value; null for a null value. */
    public Duration getInterval(String name) {
        return object.getInterval(name);
    }

    /** Null for a null value, as every array getter. */
    public String[] getStrings(String name) {
        return object.getStrings(name);
    }

    public int[] getInts(String name) {
        return object.getInts(name);
    }

    public long[] getLongs(String name) {
        return object.getLongs(name);
    }

    public long[] getUnsignedLongs(String name) {
        return object.getUnsignedLongs(name);
    }

    public boolean[] getBooleans(String name) {
        return object.getBooleans(name);
    }

    public double[] getDoubles(String name) {
        return object.getDoubles(name);
    }

    /** An array of datetime values; null for a null value. */
    public OffsetDateTime[] getDateTimes(String name) {
        return object.getDateTimes(name);
    }

    /** An array of interval values; null for a null value. */
    public Duration[] getIntervals(String name) {
        return object.getIntervals(name);
    }

    /**
     * The embedded object of a property of CIM type object; null for a null value. Close it
     * when done: it holds a reference of its own.
     */
    public Instance getObject(String name) {
        WbemClassObject embedded = object.getObject(name);
        return embedded == null ? null : new Instance(embedded);
    }

    /** The embedded objects of an object array property (close each); null for a null value. */
    public Instance[] getObjects(String name) {
        WbemClassObject[] embedded = object.getObjects(name);
        return embedded == null ? null : wrap(embedded);
    }

    /** Writes any value {@link #get} returns; null writes a null value. */
    public Instance set(String name, Object value) {
        if (value instanceof Instance) {
            return setObject(name, (Instance) value);
        }
        if (value instanceof Instance[]) {
            return setObjects(name, (Instance[]) value);
        }
        object.put(name, value);
        return this;
    }

    public Instance setString(String name, String value) {
        object.putString(name, value);
        return this;
    }

    public Instance setInt(String name, int value) {
        object.putInt(name, value);
        return this;
    }

    public Instance setLong(String name, long value) {
        object.putLong(name, value);
        return this;
    }

    /** Writes the long's bits as unsigned: the counterpart of {@link #getUnsignedLong}. */
    public Instance setUnsignedLong(String name, long value) {
        object.putUnsignedLong(name, value);
        return this;
    }

    public Instance setBigInteger(String name, BigInteger value) {
        object.putBigInteger(name, value);
        return this;
    }

    public Instance setBoolean(String name, boolean value) {
        object.putBoolean(name, value);
        return this;
    }

    public Instance setDouble(String name, double value) {
        object.putDouble(name, value);
        return this;
    }

    /** Cut to microseconds; null writes a null value. */
    public Instance setDateTime(String name, OffsetDateTime value) {
        object.putDateTime(name, value);
        return this;
    }

    /** Cut to microseconds; null writes a null value. */
    public Instance setInterval(String name, Duration value) {
        object.putInterval(name, value);
        return this;
    }

    public Instance setStrings(String name, String... values) {
        object.putStrings(name, values);
        return this;
    }

    public Instance setInts(String name, int... values) {
        object.putInts(name, values);
        return this;
    }

    public Instance setLongs(String name, long... values) {
        object.putLongs(name, values);
        return this;
    }

    public Instance setUnsignedLongs(String name, long... values) {
        object.putUnsignedLongs(name, values);
        return this;
    }

    public Instance setBooleans(String name, boolean... values) {
        object.putBooleans(name, values);
        return this;
    }

    public Instance setDoubles(String name, double... values) {
        object.putDoubles(name, values);
        return this;
    }

    /** Cut to microseconds; null writes a null value. */
    public Instance setDateTimes(String name, OffsetDateTime... values) {
        object.putDateTimes(name, values);
        return this;
    }

    /** Cut to microseconds; null writes a null value. */
    public Instance setIntervals(String name, Duration... values) {
        object.putIntervals(name, values);
        return this;
    }

    /**
     * Writes an embedded object, typically one made with {@link ProviderContext#newInstance}
     * and filled first; null writes a null value. The property takes its own reference: close
     * {@code value} as before.
     */
    public Instance setObject(String name, Instance value) {
        object.putObject(name, value == null ? null : value.wbemObject());
        return this;
    }

    /** Writes an array of embedded objects (see {@link #setObject}); null writes null. */
    public Instance setObjects(String name, Instance... values) {
        WbemClassObject[] embedded = null;
        if (values != null) {
            embedded = new WbemClassObject[values.length];
            for (int i = 0; i < values.length; i++) {
                embedded[i] = Objects.requireNonNull(values[i],
                        () -> "An array written to property " + name + " holds null").wbemObject();
            }
        }
        object.putObjects(name, embedded);
        return this;
    }

    public Instance setNull(String name) {
        object.putNull(name);
        return this;
    }

    @Override
    public void close() {
        object.close();
    }

    private static Instance[] wrap(WbemClassObject[] objects) {
        Instance[] result = new Instance[objects.length];
        for (int i = 0; i < objects.length; i++) {
            result[i] = new Instance(objects[i]);
        }
        return result;
    }

    @Override
    public String toString() {
        return "Instance[" + object + "]";
    }
}
