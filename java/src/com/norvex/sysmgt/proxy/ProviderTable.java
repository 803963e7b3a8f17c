package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.provider.WmiProvider;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.ServiceConfigurationError;
import java.util.ServiceLoader;
import java.util.TreeMap;

/** The providers found on the class path, one object each, by the WMI class they serve. */
final class ProviderTable {
    private final Map<String, WmiProvider> byClass = new TreeMap<>(String.CASE_INSENSITIVE_ORDER);

    ProviderTable(ClassLoader loader) {
        ServiceLoader<WmiProvider> found = ServiceLoader.load(WmiProvider.class, loader);
        for (WmiProvider provider : found) {
            String wmiClass = provider.wmiClass();
            if (wmiClass == null || wmiClass.isEmpty()) {
                throw new ServiceConfigurationError(
                        "Provider " + provider.getClass().getName() + " names no WMI class");
            }
            WmiProvider earlier = byClass.putIfAbsent(wmiClass, provider);
            if (earlier != null) {
                throw new ServiceConfigurationError("Providers " + earlier.getClass().getName()
                        + " and " + provider.getClass().getName() + " both serve class " + wmiClass);
            }
        }
    }

    /** The provider of the class, able to do {@code kind} ("enumerate instances", ...). */
    <T extends WmiProvider> T require(String wmiClass, Class<T> kind, String work) {
        WmiProvider provider = wmiClass == null ? null : byClass.get(wmiClass);
        if (provider == null) {
            throw new IllegalStateException("No provider for class " + wmiClass);
        }
        if (!kind.isInstance(provider)) {
            throw new UnsupportedOperationException("The provider for class " + wmiClass + " ("
                    + provider.getClass().getName() + ") cannot " + work);
        }
        return kind.cast(provider);
    }

    <T extends WmiProvider> List<T> all(Class<T> kind) {
        List<T> result = new ArrayList<>();
        for (WmiProvider provider : byClass.values()) {
            if (kind.isInstance(provider)) {
                result.add(kind.cast(provider));
            }
        }
        return Collections.unmodifiableList(result);
    }

    @Override
    public String toString() {
        return "providers for " + byClass.keySet().toString().toLowerCase(Locale.ROOT);
    }
}
