package com.norvex.test.providers;

import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.InstanceWriter;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import java.util.Map;
import java.util.TreeMap;

/**
 * Velt_Types: keeps what it is given by reading every property and gives it back by writing
 * each again, through the generic get/set and, for the values at the edges of their types, the
 * typed accessors.
 */
public class TypesProvider implements InstanceProvider, InstanceWriter {
    private final Map<String, Map<String, Object>> stored = new TreeMap<>();

    @Override
    public String wmiClass() {
        return "Velt_Types";
    }

    @Override
    public synchronized void putInstance(Instance instance, ProviderContext context) {
        Map<String, Object> values = new TreeMap<>();
        for (String name : instance.propertyNames()) {
            values.put(name, instance.get(name));
        }
        values.put("U64", instance.getUnsignedLong("U64"));
        values.put("When", instance.getDateTime("When"));
        values.put("Span", instance.getInterval("Span"));
        values.put("U64s", instance.getUnsignedLongs("U64s"));
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
                result.set(value.getKey(), value.getValue());
            }
        }
        return result.setUnsignedLong("U64", (Long) values.get("U64"))
                .setUnsignedLongs("U64s", (long[]) values.get("U64s"));
    }
}
