package com.norvex.samples.jvm;

import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceEnumerator;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadInfo;
import java.lang.management.ThreadMXBean;
import java.util.ArrayList;
import java.util.List;

/** NorvexJvm_Thread: the live threads of the VM. */
public class ThreadProvider implements InstanceProvider, InstanceEnumerator {
    @Override
    public String wmiClass() {
        return "NorvexJvm_Thread";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        ThreadInfo info = ManagementFactory.getThreadMXBean().getThreadInfo(path.longKey("Id"));
        return info == null ? null : thread(context, info);
    }

    @Override
    public List<Instance> enumerateInstances(ProviderContext context) {
        ThreadMXBean threads = ManagementFactory.getThreadMXBean();
        List<Instance> result = new ArrayList<>();
        for (ThreadInfo info : threads.getThreadInfo(threads.getAllThreadIds())) {
            if (info != null) {
                result.add(thread(context, info));
            }
        }
        return result;
    }

    private static Instance thread(ProviderContext context, ThreadInfo info) {
        ThreadMXBean threads = ManagementFactory.getThreadMXBean();
        long cpu = threads.isThreadCpuTimeSupported() ? threads.getThreadCpuTime(info.getThreadId())
                                                       : -1;
        return context.newInstance().setLong("Id", info.getThreadId())
                .setString("Name", info.getThreadName())
                .setString("State", info.getThreadState().toString())
                .setBoolean("Daemon", info.isDaemon())
                .setLong("CpuTimeNs", cpu);
    }
}
