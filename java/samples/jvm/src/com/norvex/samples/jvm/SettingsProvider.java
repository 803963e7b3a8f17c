package com.norvex.samples.jvm;

import com.norvex.sysmgt.provider.EventChannel;
import com.norvex.sysmgt.provider.EventProvider;
import com.norvex.sysmgt.provider.Instance;
import com.norvex.sysmgt.provider.InstanceEnumerator;
import com.norvex.sysmgt.provider.InstanceProvider;
import com.norvex.sysmgt.provider.InstanceWriter;
import com.norvex.sysmgt.provider.ObjectPath;
import com.norvex.sysmgt.provider.ProviderContext;
import com.norvex.sysmgt.provider.ProviderException;
import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.function.BiConsumer;

/** NorvexJvm_Setting: the writable settings, and NorvexJvm_SettingChanged after each write. */
public class SettingsProvider implements InstanceProvider, InstanceEnumerator, InstanceWriter,
        EventProvider {
    private volatile BiConsumer<String, String> announcer;

    @Override
    public String wmiClass() {
        return "NorvexJvm_Setting";
    }

    @Override
    public Instance getInstance(ObjectPath path, ProviderContext context) {
        String name = path.requireKey("Name");
        String value = SettingsStore.get().value(name);
        return value == null ? null : setting(context, name, value);
    }

    @Override
    public List<Instance> enumerateInstances(ProviderContext context) {
        List<Instance> result = new ArrayList<>();
        for (Map.Entry<String, String> entry : SettingsStore.get().all().entrySet()) {
            result.add(setting(context, entry.getKey(), entry.getValue()));
        }
        return result;
    }

    @Override
    public void putInstance(Instance instance, ProviderContext context) {
        String name = instance.getString("Name");
        if (name == null || name.isEmpty()) {
            throw new ProviderException("A NorvexJvm_Setting needs a Name");
        }
        try {
            SettingsStore.get().set(name, instance.getString("Value"));
        } catch (IllegalArgumentException e) {
            throw new ProviderException(e.getMessage());
        } catch (IOException e) {
            throw new ProviderException("Could not save " + SettingsStore.settingsFile(), e);
        }
    }

    @Override
    public Set<String> eventClasses() {
        return Set.of("NorvexJvm_SettingChanged");
    }

    @Override
    public synchronized void startEvents(EventChannel channel) {
        stopEvents();
        announcer = (name, old) -> {
            channel.fire("NorvexJvm_SettingChanged", event -> event.setString("Name", name)
                    .setString("OldValue", old)
                    .setString("NewValue", SettingsStore.get().value(name)));
        };
        SettingsStore.get().addListener(announcer);
    }

    @Override
    public synchronized void stopEvents() {
        if (announcer != null) {
            SettingsStore.get().removeListener(announcer);
            announcer = null;
        }
    }

    private static Instance setting(ProviderContext context, String name, String value) {
        return context.newInstance().setString("Name", name).setString("Value", value)
                .setString("Description", SettingsStore.description(name));
    }
}
