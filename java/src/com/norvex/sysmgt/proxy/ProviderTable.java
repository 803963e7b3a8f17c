package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemException;
import com.norvex.sysmgt.provider.EventProvider;
import com.norvex.sysmgt.provider.WbemStatus;
import com.norvex.sysmgt.provider.WmiProvider;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.UncheckedIOException;
import java.lang.reflect.InvocationTargetException;
import java.net.URL;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;

/**
 * The providers found on the class path, one object each, by the WMI class they serve. The
 * service files are read here rather than through ServiceLoader, whose first faulty entry
 * ends the whole search and which hides a second copy of a class: a provider that cannot be
 * used fails only its own classes, and says why.
 */
final class ProviderTable {
    private static final String SERVICE_FILE = "META-INF/services/" + WmiProvider.class.getName();

    private final Map<String, WmiProvider> byClass = new TreeMap<>(String.CASE_INSENSITIVE_ORDER);
    // Classes no provider may serve, with the reason.
    private final Map<String, String> failedClasses =
            new TreeMap<>(String.CASE_INSENSITIVE_ORDER);
    // Providers that could not be made, whose classes are therefore unknown.
    private final List<String> unloaded = new ArrayList<>();

    ProviderTable(ClassLoader loader) {
        Map<String, List<WmiProvider>> candidates = new TreeMap<>(String.CASE_INSENSITIVE_ORDER);
        for (Map.Entry<String, String> listed : listedProviders(loader).entrySet()) {
            String name = listed.getKey();
            WmiProvider provider;
            String wmiClass;
            try {
                provider = make(loader, name);
                wmiClass = provider.wmiClass();
            } catch (Exception | Error failure) {
                unloaded.add("provider " + name + " (listed in " + listed.getValue()
                        + ") cannot be loaded: " + failure);
                continue;
            }
            if (wmiClass == null || wmiClass.isEmpty()) {
                unloaded.add("provider " + name + " (" + jarOf(provider.getClass())
                        + ") names no WMI class");
                continue;
            }
            List<String> copies = copiesOf(loader, name);
            if (copies.size() > 1) {
                failedClasses.put(wmiClass, "provider " + name + " of class " + wmiClass
                        + " is in more than one jar: " + String.join(", ", copies)
                        + "; remove all but one");
                continue;
            }
            candidates.computeIfAbsent(wmiClass, c -> new ArrayList<>()).add(provider);
        }
        for (Map.Entry<String, List<WmiProvider>> entry : candidates.entrySet()) {
            String wmiClass = entry.getKey();
            List<WmiProvider> serving = entry.getValue();
            if (failedClasses.containsKey(wmiClass)) {
                continue;
            }
            if (serving.size() == 1) {
                byClass.put(wmiClass, serving.get(0));
                continue;
            }
            List<String> names = new ArrayList<>();
            for (WmiProvider provider : serving) {
                names.add(provider.getClass().getName() + " (" + jarOf(provider.getClass()) + ")");
            }
            failedClasses.put(wmiClass, "class " + wmiClass + " has more than one provider: "
                    + String.join(" and ", names) + "; remove all but one");
        }
    }

    /** The provider of the class, able to do {@code kind} ("enumerate instances", ...). */
    <T extends WmiProvider> T require(String wmiClass, Class<T> kind, String work) {
        WmiProvider provider = wmiClass == null ? null : byClass.get(wmiClass);
        if (provider == null) {
            throw missing(wmiClass);
        }
        if (!kind.isInstance(provider)) {
            throw new WbemException("The provider for class " + wmiClass + " ("
                    + provider.getClass().getName() + ") cannot " + work, WbemStatus.NOT_SUPPORTED);
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

    /**
     * One line per fact, fields separated by tabs: "serves" or "events", the WMI class, the
     * provider class and its jar; "fails", the WMI class and why; "unloaded" and why.
     */
    String listing() {
        StringBuilder text = new StringBuilder();
        for (Map.Entry<String, WmiProvider> entry : byClass.entrySet()) {
            WmiProvider provider = entry.getValue();
            String origin = "\t" + provider.getClass().getName() + "\t" + jarOf(provider.getClass());
            if (!(provider instanceof EventProvider)) {
                text.append("serves\t").append(entry.getKey()).append(origin).append('\n');
                continue;
            }
            Set<String> events = ((EventProvider) provider).eventClasses();
            if (events == null || events.isEmpty()) {
                events = Set.of(entry.getKey());
            } else {
                text.append("serves\t").append(entry.getKey()).append(origin).append('\n');
            }
            for (String eventClass : events) {
                text.append("events\t").append(eventClass).append(origin).append('\n');
            }
        }
        for (Map.Entry<String, String> failed : failedClasses.entrySet()) {
            text.append("fails\t").append(failed.getKey()).append('\t')
                    .append(failed.getValue()).append('\n');
        }
        for (String reason : unloaded) {
            text.append("unloaded\t").append(reason).append('\n');
        }
        return text.toString();
    }

    @Override
    public String toString() {
        return "providers for " + byClass.keySet().toString().toLowerCase(Locale.ROOT);
    }

    private WbemException missing(String wmiClass) {
        String failed = wmiClass == null ? null : failedClasses.get(wmiClass);
        if (failed != null) {
            return new WbemException(failed, WbemStatus.PROVIDER_LOAD_FAILURE);
        }
        if (!unloaded.isEmpty()) {
            // The class is perhaps one of theirs: their classes cannot be known.
            return new WbemException("No provider for class " + wmiClass + "; "
                    + String.join("; ", unloaded), WbemStatus.PROVIDER_LOAD_FAILURE);
        }
        return new WbemException(
                "No provider for class " + wmiClass, WbemStatus.PROVIDER_NOT_FOUND);
    }

    private static WmiProvider make(ClassLoader loader, String name) throws Exception {
        Class<?> type = Class.forName(name, false, loader);
        if (!WmiProvider.class.isAssignableFrom(type)) {
            throw new ClassCastException(
                    name + " does not implement " + WmiProvider.class.getName());
        }
        try {
            return (WmiProvider) type.getConstructor().newInstance();
        } catch (InvocationTargetException thrown) {
            Throwable cause = thrown.getCause();
            if (cause instanceof Error) {
                throw (Error) cause;
            }
            throw (Exception) cause;
        }
    }

    /** Each listed class name, with the jars whose service files list it. */
    private static Map<String, String> listedProviders(ClassLoader loader) {
        Map<String, String> listed = new LinkedHashMap<>();
        try {
            for (URL file : Collections.list(loader.getResources(SERVICE_FILE))) {
                try (BufferedReader lines = new BufferedReader(
                             new InputStreamReader(file.openStream(), StandardCharsets.UTF_8))) {
                    String line;
                    while ((line = lines.readLine()) != null) {
                        int comment = line.indexOf('#');
                        String name = (comment < 0 ? line : line.substring(0, comment)).trim();
                        if (!name.isEmpty()) {
                            listed.merge(name, jarOf(file),
                                    (a, b) -> a.equals(b) ? a : a + ", " + b);
                        }
                    }
                }
            }
        } catch (IOException failure) {
            throw new UncheckedIOException("Reading the provider lists failed", failure);
        }
        return listed;
    }

    private static List<String> copiesOf(ClassLoader loader, String name) {
        List<String> jars = new ArrayList<>();
        try {
            String file = name.replace('.', '/') + ".class";
            for (URL copy : Collections.list(loader.getResources(file))) {
                jars.add(jarOf(copy));
            }
        } catch (IOException failure) {
            throw new UncheckedIOException("Looking for " + name + " failed", failure);
        }
        return jars;
    }

    private static String jarOf(Class<?> type) {
        URL location = type.getProtectionDomain().getCodeSource() == null
                ? null
                : type.getProtectionDomain().getCodeSource().getLocation();
        return location == null ? "unknown jar" : jarOf(location);
    }

    /** The file name of the jar or folder a resource comes from. */
    private static String jarOf(URL resource) {
        String text = resource.toString();
        int inside = text.indexOf("!/");
        if (text.startsWith("jar:") && inside > 0) {
            text = text.substring(4, inside);
        }
        if (text.endsWith("/")) {
            text = text.substring(0, text.length() - 1);
        }
        return text.substring(text.lastIndexOf('/') + 1);
    }
}
