package com.norvex.test.providers;

import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.InstanceWriter;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

/**
 * Velt_Types: keeps what it is given by reading every property and gives it back by writing
 * each again, through the generic get/set and, for the values at the edges of their types, the
 * typed accessors. Embedded objects are kept as their class and values, never as the objects
 * themselves, so the provider holds no reference once a request is over.
 */
public class TypesProvider implements InstanceProvider, InstanceWriter {
    private final Map<String, Map<String, Object>> stored = new TreeMap<>();

    /** An embedded object as the provider keeps it. */
    private record Embedded(String className, Map<String, Object> values) {}

    @Override
    public String wmiClass() {
        return "Velt_Types";
    }

    @Override
    public synchronized void putInstance(Instance instance, ProviderContext context) {
        Map<String, Object> values = read(instance);
        values.put("U64", instance.isNull("U64") ? null : instance.getUnsignedLong("U64"));
        values.put("When", instance.getDateTime("When"));
        values.put("Span", instance.getInterval("Span"));
        values.put("U64s", instance.getUnsignedLongs("U64s"));
        List<String> names = instance.propertyNames();
        if (names.contains("Whens") && names.contains("Spans")) {
            values.put("Whens", instance.getDateTimes("Whens"));
            values.put("Spans", instance.getIntervals("Spans"));
        }
        stored.put(instance.getString("Id"), values);
    }

    @Override
    public synchronized Instance getInstance(ObjectPath path, ProviderContext context) {
        Map<String, Object> values = stored.get(path.requireKey("Id"));
        if (values == null) {
            return null;
        }
        Instance result = context.newInstance();
        for (Map.Entry<String, Object> value : values.entrySet()) {
            if (!value.getKey().equals("U64") && !value.getKey().equals("U64s")) {
                write(result, value.getKey(), value.getValue(), context);
            }
        }
        Long u64 = (Long) values.get("U64");
        return (u64 == null ? result.setNull("U64") : result.setUnsignedLong("U64", u64))
                .setUnsignedLongs("U64s", (long[]) values.get("U64s"));
    }

    /** Every property through the generic getter, embedded objects taken apart and closed. */
    private static Map<String, Object> read(Instance instance) {
        Map<String, Object> values = new TreeMap<>();
        for (String name : instance.propertyNames()) {
            Object value = instance.get(name);
            if (value instanceof Instance object) {
                value = keep(object);
            } else if (value instanceof Instance[] objects) {
                value = Arrays.stream(objects).map(TypesProvider::keep).toArray(Embedded[]::new);
            }
            values.put(name, value);
        }
        return values;
    }

    private static Embedded keep(Instance object) {
        try (object) {
            return new Embedded(object.className(), read(object));
        }
    }

    private static void write(Instance target, String name, Object value,
            ProviderContext context) {
        if (value instanceof Embedded embedded) {
            try (Instance object = make(embedded, context)) {
                target.setObject(name, object);
            }
        } else if (value instanceof Embedded[] kept) {
            Instance[] objects = new Instance[kept.length];
            try {
                for (int i = 0; i < kept.length; i++) {
                    objects[i] = make(kept[i], context);
                }
                target.set(name, objects);
            } finally {
                for (Instance object : objects) {
                    if (object != null) {
                        object.close();
                    }
                }
            }
        } else {
            target.set(name, value);
        }
    }

    private static Instance make(Embedded kept, ProviderContext context) {
        Instance object = context.newInstance(kept.className());
        try {
            for (Map.Entry<String, Object> value : kept.values().entrySet()) {
                write(object, value.getKey(), value.getValue(), context);
            }
        } catch (RuntimeException e) {
            object.close();
            throw e;
        }
        return object;
    }
}
