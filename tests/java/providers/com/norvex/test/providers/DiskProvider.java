package com.norvex.test.providers;

import com.norvex.sysmgt.provider.EventChannel;
import com.norvex.sysmgt.provider.EventProvider;
import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceEnumerator;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.InstanceWriter;
import com.norvex.sysmgt.provider.MethodProvider;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import com.norvex.sysmgt.provider.ProviderException;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;
import java.util.concurrent.atomic.AtomicInteger;

/** Serves Velt_Disk from memory and fires Velt_DiskEvent whenever a disk is stored. */
public class DiskProvider implements InstanceProvider, InstanceEnumerator, InstanceWriter,
        MethodProvider, EventProvider {
    private static final Map<String, Long> DISKS = Collections.synchronizedMap(new TreeMap<>());
    private static volatile EventChannel events;
    private static volatile EventChannel lastChannel;
    private static final AtomicInteger STARTS = new AtomicInteger();

    @Override
    public String wmiClass() {
        return "Velt_Disk";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        String name = path.requireKey("Name");
        Long size = DISKS.get(name);
        return size == null ? null : disk(context, name, size);
    }

    @Override
    public List<Instance> enumerateInstances(ProviderContext context) {
        List<Instance> result = new ArrayList<>();
        synchronized (DISKS) {
            for (Map.Entry<String, Long> entry : DISKS.entrySet()) {
                result.add(disk(context, entry.getKey(), entry.getValue()));
            }
        }
        return result;
    }

    @Override
    public void putInstance(Instance instance, ProviderContext context) {
        String name = instance.getString("Name");
        if (name == null) {
            throw new ProviderException("A Velt_Disk needs a Name");
        }
        long size = instance.isNull("Size") ? 0 : instance.getLong("Size");
        DISKS.put(name, size);
        fireNow(name);
    }

    /** Grow, the class's one method, on a disk the test stored. */
    @Override
    public void invokeMethod(ObjectPath target, String method, Instance in, Instance out,
            ProviderContext context) {
        long grown = DISKS.merge(target.requireKey("Name"), (long) in.getInt("By"), Long::sum);
        out.setLong("NewSize", grown).setInt("ReturnValue", 0);
    }

    @Override
    public Set<String> eventClasses() {
        return Set.of("Velt_DiskEvent");
    }

    @Override
    public void startEvents(EventChannel channel) {
        events = channel;
        lastChannel = channel;
        STARTS.incrementAndGet();
    }

    @Override
    public void stopEvents() {
        events = null;
    }

    /** Test hooks, called through JNI. A disk named "bad..." makes an event that cannot be made. */
    public static String fireNow(String what) {
        EventChannel channel = events;
        return String.valueOf(channel != null && channel.fire("Velt_DiskEvent",
                event -> event.setString(what.startsWith("bad") ? "NoSuchProperty" : "Disk", what)));
    }

    /** How often events were started, what the latest channel says of itself and still makes. */
    public static String channelInfo() {
        String undeclared;
        try {
            lastChannel.newEvent("Velt_Disk");
            undeclared = "made";
        } catch (IllegalArgumentException e) {
            undeclared = "refused";
        }
        try (Instance event = lastChannel.newEvent("Velt_DiskEvent")) {
            return STARTS.get() + "|" + lastChannel.namespaceName() + "|"
                    + lastChannel.eventClasses() + "|" + undeclared + "|"
                    + (event != null ? "makes events" : "makes none");
        }
    }

    /** Where the class declares it, the disk's usage comes as an embedded Velt_DiskUsage. */
    private static Instance disk(ProviderContext context, String name, long size) {
        Instance disk = context.newInstance();
        try {
            disk.setString("Name", name).setLong("Size", size);
            if (disk.propertyNames().contains("Usage")) {
                try (Instance usage = context.newInstance("Velt_DiskUsage")) {
                    disk.setObject("Usage", usage.setString("Disk", name).setLong("Used", size));
                }
            }
            return disk;
        } catch (RuntimeException e) {
            disk.close();
            throw e;
        }
    }
}
