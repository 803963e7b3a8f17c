package com.norvex.samples.jvm;

import com.norvex.sysmgt.provider.EventChannel;
import com.norvex.sysmgt.provider.EventProvider;
import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceEnumerator;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.MethodProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import com.norvex.sysmgt.provider.ProviderException;
import java.lang.management.ManagementFactory;
import java.lang.management.MemoryMXBean;
import java.lang.management.RuntimeMXBean;
import java.util.List;
import java.util.Set;

/**
 * NorvexJvm_Runtime: the one Java VM of the server process, its CollectGarbage method, and a
 * NorvexJvm_Heartbeat event every HeartbeatSeconds while someone watches.
 */
public class RuntimeProvider implements InstanceProvider, InstanceEnumerator, MethodProvider,
        EventProvider {
    static final String NAME = "jvm";

    private Thread heartbeat;

    @Override
    public String wmiClass() {
        return "NorvexJvm_Runtime";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        return NAME.equals(path.requireKey("Name")) ? runtime(context) : null;
    }

    @Override
    public List<Instance> enumerateInstances(ProviderContext context) {
        return List.of(runtime(context));
    }

    @Override
    public void invokeMethod(ObjectPath target, String method, Instance in, Instance out,
            ProviderContext context) {
        if (!"CollectGarbage".equalsIgnoreCase(method)) {
            throw new ProviderException("NorvexJvm_Runtime has no method " + method);
        }
        MemoryMXBean memory = ManagementFactory.getMemoryMXBean();
        long before = memory.getHeapMemoryUsage().getUsed();
        memory.gc();
        long after = memory.getHeapMemoryUsage().getUsed();
        out.setLong("HeapUsedBefore", before).setLong("HeapUsedAfter", after)
                .setLong("ReturnValue", Math.max(0, before - after));
    }

    @Override
    public Set<String> eventClasses() {
        return Set.of("NorvexJvm_Heartbeat");
    }

    @Override
    public synchronized void startEvents(EventChannel channel) {
        stopEvents();
        heartbeat = new Thread(() -> beat(channel), "NorvexJvm heartbeat");
        heartbeat.setDaemon(true);
        heartbeat.start();
    }

    @Override
    public synchronized void stopEvents() {
        if (heartbeat != null) {
            heartbeat.interrupt();
            heartbeat = null;
        }
    }

    private static void beat(EventChannel channel) {
        long sequence = 0;
        while (!Thread.currentThread().isInterrupted() && channel.isOpen()) {
            try {
                Thread.sleep(1000L * SettingsStore.get().intValue(SettingsStore.HEARTBEAT_SECONDS));
            } catch (InterruptedException e) {
                return;
            }
            long number = ++sequence;
            channel.fire("NorvexJvm_Heartbeat", event -> event.setLong("Sequence", number)
                    .setLong("HeapUsed",
                            ManagementFactory.getMemoryMXBean().getHeapMemoryUsage().getUsed())
                    .setInt("ThreadCount", ManagementFactory.getThreadMXBean().getThreadCount()));
        }
    }

    private static Instance runtime(ProviderContext context) {
        RuntimeMXBean vm = ManagementFactory.getRuntimeMXBean();
        MemoryMXBean memory = ManagementFactory.getMemoryMXBean();
        return context.newInstance().setString("Name", NAME)
                .setString("VmName", vm.getVmName())
                .setString("VmVersion", vm.getVmVersion())
                .setLong("UptimeMs", vm.getUptime())
                .setInt("ThreadCount", ManagementFactory.getThreadMXBean().getThreadCount())
                .setLong("HeapUsed", memory.getHeapMemoryUsage().getUsed())
                .setLong("HeapCommitted", memory.getHeapMemoryUsage().getCommitted());
    }
}
