package com.norvex.samples.jvm;

import java.io.IOException;
import java.io.Reader;
import java.io.Writer;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.util.Map;
import java.util.Properties;
import java.util.TreeMap;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.atomic.AtomicLong;
import java.util.function.BiConsumer;

/**
 * The sample's settings: a few names with values, kept in a properties file in the server's
 * temporary folder (the TEMPDIR system property) so they outlive the server process.
 */
final class SettingsStore {
    static final String HEARTBEAT_SECONDS = "HeartbeatSeconds";
    static final String POOL_THRESHOLD_PERCENT = "PoolThresholdPercent";
    static final String FILE_NAME = "norvex-sample-settings.properties";

    private static final Map<String, String> DEFAULTS = Map.of(
            HEARTBEAT_SECONDS, "1",
            POOL_THRESHOLD_PERCENT, "90");
    private static final Map<String, String> DESCRIPTIONS = Map.of(
            HEARTBEAT_SECONDS, "Seconds between NorvexJvm_Heartbeat events",
            POOL_THRESHOLD_PERCENT, "Percent of a pool's maximum that raises NorvexJvm_PoolThresholdExceeded");

    private static final SettingsStore INSTANCE = new SettingsStore(settingsFile());

    private final Path file;
    private final Map<String, String> values = new TreeMap<>();
    /** Names this process's temporary files. */
    private final AtomicLong writes = new AtomicLong();
    /** Told (name, old value) after every change. */
    private final CopyOnWriteArrayList<BiConsumer<String, String>> listeners =
            new CopyOnWriteArrayList<>();

    static SettingsStore get() {
        return INSTANCE;
    }

    static Path settingsFile() {
        String folder = System.getProperty("TEMPDIR");
        if (folder == null || folder.isEmpty()) {
            folder = System.getProperty("java.io.tmpdir");
        }
        return Paths.get(folder, FILE_NAME);
    }

    private SettingsStore(Path file) {
        this.file = file;
        values.putAll(DEFAULTS);
        Map<String, String> stored = readStored();
        if (stored != null) {
            values.putAll(stored);
        }
    }

    synchronized Map<String, String> all() {
        return new TreeMap<>(values);
    }

    synchronized String value(String name) {
        return values.get(name);
    }

    int intValue(String name) {
        String text = value(name);
        try {
            return Integer.parseInt(text);
        } catch (NumberFormatException e) {
            return Integer.parseInt(DEFAULTS.get(name));
        }
    }

    static String description(String name) {
        return DESCRIPTIONS.getOrDefault(name, "A setting of your own");
    }

    /** Checks, stores and persists the value; answers the old one (null for a new name). */
    String set(String name, String value) throws IOException {
        checkValue(name, value);
        String old;
        synchronized (this) {
            old = saveMerged(name, value);
        }
        // The value is saved: what a listener does about it cannot make the write fail.
        for (BiConsumer<String, String> listener : listeners) {
            try {
                listener.accept(name, old);
            } catch (RuntimeException e) {
                System.err.println("Setting " + name + " saved; a listener failed: " + e);
            }
        }
        return old;
    }

    void addListener(BiConsumer<String, String> listener) {
        listeners.add(listener);
    }

    void removeListener(BiConsumer<String, String> listener) {
        listeners.remove(listener);
    }

    private static void checkValue(String name, String value) {
        if (value == null) {
            throw new IllegalArgumentException("Setting " + name + " needs a Value");
        }
        int low = HEARTBEAT_SECONDS.equals(name) ? 1 : POOL_THRESHOLD_PERCENT.equals(name) ? 1 : 0;
        if (low == 0) {
            return;
        }
        int high = HEARTBEAT_SECONDS.equals(name) ? 3600 : 100;
        try {
            int number = Integer.parseInt(value.trim());
            if (number >= low && number <= high) {
                return;
            }
        } catch (NumberFormatException e) {
            // reported below
        }
        throw new IllegalArgumentException(
                "Setting " + name + " takes a whole number from " + low + " to " + high
                        + ", not '" + value + "'");
    }

    /**
     * Every server process keeps its own copy of the settings and may write at the same time as
     * the others: under a lock that all of them take, the file is read again, this one change is
     * applied to what it holds, and the whole is written, so no process undoes another's write.
     * A file lock belongs to the process; the caller's monitor keeps this process's threads out.
     */
    private String saveMerged(String name, String value) throws IOException {
        Files.createDirectories(file.getParent());
        Path lockFile = file.resolveSibling(FILE_NAME + ".lock");
        try (FileChannel channel = FileChannel.open(lockFile, StandardOpenOption.CREATE,
                StandardOpenOption.WRITE)) {
            FileLock lock = channel.lock();
            try {
                Map<String, String> stored = readStored();
                if (stored != null) {
                    values.clear();
                    values.putAll(DEFAULTS);
                    values.putAll(stored);
                }
                String old = values.put(name, value);
                try {
                    save();
                } catch (IOException e) {
                    // Not saved, so not set: the next read must not show it.
                    if (old == null) {
                        values.remove(name);
                    } else {
                        values.put(name, old);
                    }
                    throw e;
                }
                return old;
            } finally {
                lock.release();
            }
        }
    }

    /** What the file holds; null when there is no file or it cannot be read. */
    private Map<String, String> readStored() {
        if (!Files.isReadable(file)) {
            return null;
        }
        Properties stored = new Properties();
        try (Reader in = Files.newBufferedReader(file, StandardCharsets.UTF_8)) {
            stored.load(in);
        } catch (IOException e) {
            // An unreadable file leaves what this process knows; the next write replaces it.
            return null;
        }
        Map<String, String> result = new TreeMap<>();
        for (String name : stored.stringPropertyNames()) {
            result.put(name, stored.getProperty(name));
        }
        return result;
    }

    /**
     * Writes a new file beside the old one and moves it over, so a crash never leaves half. The
     * new file's name is this write's own: a name shared by every writer would let one process
     * move (or overwrite) another's half-written file.
     */
    private void save() throws IOException {
        Path next = file.resolveSibling(FILE_NAME + "." + ProcessHandle.current().pid() + "."
                + writes.incrementAndGet() + ".new");
        try {
            Properties stored = new Properties();
            stored.putAll(values);
            try (Writer out = Files.newBufferedWriter(next, StandardCharsets.UTF_8,
                    StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE)) {
                stored.store(out, "NorvexVelt sample provider settings");
            }
            Files.move(next, file, StandardCopyOption.REPLACE_EXISTING,
                    StandardCopyOption.ATOMIC_MOVE);
        } finally {
            Files.deleteIfExists(next);
        }
    }
}
