package com.norvex.samples.jvm;

import com.norvex.sysmgt.provider.EventChannel;
import com.norvex.sysmgt.provider.EventProvider;
import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceEnumerator;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import java.lang.management.ManagementFactory;
import java.lang.management.MemoryNotificationInfo;
import java.lang.management.MemoryPoolMXBean;
import java.lang.management.MemoryUsage;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import java.util.function.BiConsumer;
import javax.management.ListenerNotFoundException;
import javax.management.NotificationEmitter;
import javax.management.NotificationListener;
import javax.management.openmbean.CompositeData;

/**
 * NorvexJvm_MemoryPool: the VM's memory pools, and NorvexJvm_PoolThresholdExceeded when a
 * pool's use crosses PoolThresholdPercent of its maximum.
 */
public class MemoryPoolProvider implements InstanceProvider, InstanceEnumerator, EventProvider {
    private NotificationListener listener;
    private BiConsumer<String, String> thresholdWatcher;

    @Override
    public String wmiClass() {
        return "NorvexJvm_MemoryPool";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        String name = path.requireKey("Name");
        for (MemoryPoolMXBean pool : ManagementFactory.getMemoryPoolMXBeans()) {
            if (pool.getName().equals(name)) {
                return pool(context, pool);
            }
        }
        return null;
    }

    @Override
    public List<Instance> enumerateInstances(ProviderContext context) {
        List<Instance> result = new ArrayList<>();
        for (MemoryPoolMXBean pool : ManagementFactory.getMemoryPoolMXBeans()) {
            result.add(pool(context, pool));
        }
        return result;
    }

    @Override
    public Set<String> eventClasses() {
        return Set.of("NorvexJvm_PoolThresholdExceeded");
    }

    @Override
    public synchronized void startEvents(EventChannel channel) {
        stopEvents();
        applyThresholds();
        listener = (notification, handback) -> {
            if (!MemoryNotificationInfo.MEMORY_THRESHOLD_EXCEEDED.equals(notification.getType())) {
                return;
            }
            MemoryNotificationInfo info =
                    MemoryNotificationInfo.from((CompositeData) notification.getUserData());
            channel.fire("NorvexJvm_PoolThresholdExceeded", event -> event
                    .setString("Pool", info.getPoolName())
                    .setLong("Used", info.getUsage().getUsed())
                    .setLong("Threshold", thresholdOf(info.getUsage())));
        };
        ((NotificationEmitter) ManagementFactory.getMemoryMXBean())
                .addNotificationListener(listener, null, null);
        thresholdWatcher = (name, old) -> {
            if (SettingsStore.POOL_THRESHOLD_PERCENT.equals(name)) {
                applyThresholds();
            }
        };
        SettingsStore.get().addListener(thresholdWatcher);
    }

    @Override
    public synchronized void stopEvents() {
        if (listener != null) {
            try {
                ((NotificationEmitter) ManagementFactory.getMemoryMXBean())
                        .removeNotificationListener(listener);
            } catch (ListenerNotFoundException e) {
                // already gone
            }
            listener = null;
        }
        if (thresholdWatcher != null) {
            SettingsStore.get().removeListener(thresholdWatcher);
            thresholdWatcher = null;
        }
    }

    private static long thresholdOf(MemoryUsage usage) {
        int percent = SettingsStore.get().intValue(SettingsStore.POOL_THRESHOLD_PERCENT);
        return usage.getMax() * percent / 100;
    }

    private static void applyThresholds() {
        for (MemoryPoolMXBean pool : ManagementFactory.getMemoryPoolMXBeans()) {
            MemoryUsage usage = pool.getUsage();
            if (pool.isUsageThresholdSupported() && usage != null && usage.getMax() > 0) {
                pool.setUsageThreshold(thresholdOf(usage));
            }
        }
    }

    private static Instance pool(ProviderContext context, MemoryPoolMXBean pool) {
        MemoryUsage usage = pool.getUsage();
        MemoryUsage peak = pool.getPeakUsage();
        return context.newInstance().setString("Name", pool.getName())
                .setString("Type", pool.getType().toString())
                .setLong("Used", usage.getUsed())
                .setLong("Committed", usage.getCommitted())
                .setLong("Max", usage.getMax())
                .setLong("PeakUsed", peak.getUsed())
                .setLong("Threshold", pool.isUsageThresholdSupported() ? pool.getUsageThreshold() : 0);
    }
}
