package com.norvex.samples.jvm;

import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceEnumerator;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import java.lang.management.GarbageCollectorMXBean;
import java.lang.management.ManagementFactory;
import java.util.ArrayList;
import java.util.List;

/** NorvexJvm_GarbageCollector: the VM's collectors with their counts and times. */
public class GarbageCollectorProvider implements InstanceProvider, InstanceEnumerator {
    @Override
    public String wmiClass() {
        return "NorvexJvm_GarbageCollector";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        String name = path.requireKey("Name");
        for (GarbageCollectorMXBean collector : ManagementFactory.getGarbageCollectorMXBeans()) {
            if (collector.getName().equals(name)) {
                return collector(context, collector);
            }
        }
        return null;
    }

    @Override
    public List<Instance> enumerateInstances(ProviderContext context) {
        List<Instance> result = new ArrayList<>();
        for (GarbageCollectorMXBean collector : ManagementFactory.getGarbageCollectorMXBeans()) {
            result.add(collector(context, collector));
        }
        return result;
    }

    private static Instance collector(ProviderContext context, GarbageCollectorMXBean collector) {
        return context.newInstance().setString("Name", collector.getName())
                .setLong("CollectionCount", Math.max(0, collector.getCollectionCount()))
                .setLong("CollectionTimeMs", Math.max(0, collector.getCollectionTime()))
                .setStrings("MemoryPools", collector.getMemoryPoolNames());
    }
}
