package com.norvex.bench.real;

import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceEnumerator;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import java.util.ArrayList;
import java.util.List;

/**
 * Bench_Item through the real Glue and SDK, doing the least a provider can: a get makes the
 * item it is asked for, an enumeration makes VELT_ITEM_COUNT items (1000 when unset).
 */
public class ItemProvider implements InstanceProvider, InstanceEnumerator {
    @Override
    public String wmiClass() {
        return "Bench_Item";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        return context.newInstance().setString("Name", path.requireKey("Name"));
    }

    @Override
    public List<Instance> enumerateInstances(ProviderContext context) {
        String configured = System.getenv("VELT_ITEM_COUNT");
        int count = configured == null ? 1000 : Integer.parseInt(configured);
        List<Instance> items = new ArrayList<>(count);
        try {
            for (int i = 0; i < count; i++) {
                items.add(context.newInstance().setString("Name", "item" + i).setInt("Size", i));
            }
            return items;
        } catch (RuntimeException e) {
            items.forEach(Instance::close);
            throw e;
        }
    }
}
