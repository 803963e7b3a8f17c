package com.norvex.samples.jvm;

import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceEnumerator;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import java.lang.management.ManagementFactory;
import java.lang.management.OperatingSystemMXBean;
import java.util.List;

/** NorvexJvm_OperatingSystem: the machine as the VM sees it, its load and its memory. */
public class OperatingSystemProvider implements InstanceProvider, InstanceEnumerator {
    @Override
    public String wmiClass() {
        return "NorvexJvm_OperatingSystem";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        OperatingSystemMXBean os = ManagementFactory.getOperatingSystemMXBean();
        return os.getName().equals(path.requireKey("Name")) ? system(context, os) : null;
    }

    @Override
    public List<Instance> enumerateInstances(ProviderContext context) {
        return List.of(system(context, ManagementFactory.getOperatingSystemMXBean()));
    }

    private static Instance system(ProviderContext context, OperatingSystemMXBean os) {
        Instance instance = context.newInstance().setString("Name", os.getName())
                .setString("Version", os.getVersion())
                .setString("Arch", os.getArch())
                .setInt("Processors", os.getAvailableProcessors())
                .setDouble("LoadAverage", os.getSystemLoadAverage());
        // The memory figures come from the JDK's extended view where the runtime offers it.
        if (os instanceof com.sun.management.OperatingSystemMXBean) {
            com.sun.management.OperatingSystemMXBean extended =
                    (com.sun.management.OperatingSystemMXBean) os;
            instance.setLong("TotalMemory", extended.getTotalMemorySize())
                    .setLong("FreeMemory", extended.getFreeMemorySize());
        }
        return instance;
    }
}
