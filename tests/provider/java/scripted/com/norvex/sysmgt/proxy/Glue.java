package com.norvex.sysmgt.proxy;

import com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Vector;

/**
 * A Glue for the provider's tests. It records every call, one line each, in the file named by
 * VELT_TEST_GLUE_LOG, and behaves as the file named by VELT_TEST_GLUE_CONTROL says, read anew on
 * every call ("key=value" lines): throw=<member> makes that member throw "thrown by <member>";
 * get=zero makes getInstance return 0; enum=<n>|null|odd|throwing shapes the enumInstances
 * vector;
 * fire=<class> makes setEventSink fire one event of that class from a thread of its own.
 */
public class Glue {
    private final long namespacePointer;

    public Glue(long namespacePointer, String namespaceName) {
        this.namespacePointer = namespacePointer;
        record("<init> " + namespacePointer + " " + namespaceName);
        maybeThrow("<init>");
    }

    public int getInstance(String objectPath) {
        record("getInstance " + objectPath);
        maybeThrow("getInstance");
        if ("zero".equals(control().get("get"))) {
            return 0;
        }
        String className = objectPath.substring(objectPath.indexOf(':') + 1);
        int dot = className.indexOf('.');
        WbemClassObject found =
                WbemClassObject.spawn(namespacePointer, dot < 0 ? className : className.substring(0, dot));
        found.putString("Name", "found");
        return found.handOver();
    }

    public void setInstance(String className, long instancePointer) {
        record("setInstance " + className + " " + instancePointer);
        maybeThrow("setInstance");
        new WbemClassObject(instancePointer).addRef();
    }

    @SuppressWarnings({"rawtypes", "unchecked"})
    public Vector enumInstances(String className, boolean deep, String requestedClass) {
        record("enumInstances " + className + " " + deep + " " + requestedClass + " "
                + (className != requestedClass));
        maybeThrow("enumInstances");
        String shape = control().getOrDefault("enum", "0");
        if (shape.equals("null")) {
            return null;
        }
        if (shape.equals("throwing")) {
            // Two instances, an element whose reading throws, then one more instance.
            Vector handed = new ThrowingVector(2);
            handed.add(spawnNamed(className, "e0"));
            handed.add(spawnNamed(className, "e1"));
            handed.add(Integer.valueOf(0));
            handed.add(spawnNamed(className, "e3"));
            return handed;
        }
        Vector handed = new Vector();
        if (shape.equals("odd")) {
            handed.add(spawnNamed(className, "first"));
            handed.add(null);
            handed.add(Integer.valueOf(0));
            handed.add("not an Integer");
            handed.add(spawnNamed(className, "last"));
            return handed;
        }
        int count = Integer.parseInt(shape);
        for (int i = 0; i < count; i++) {
            handed.add(spawnNamed(className, "e" + i));
        }
        StringBuilder line = new StringBuilder("handed");
        for (Object element : handed) {
            line.append(' ').append(element);
        }
        record(line.toString());
        return handed;
    }

    public void invokeMethod(String objectPath, String method, WbemClassObject inParameters,
            long outParameters) {
        record("invokeMethod " + objectPath + " " + method + " " + inParameters.pointer() + " "
                + outParameters);
        maybeThrow("invokeMethod");
        if (outParameters != 0) {
            new WbemClassObject(outParameters).putInt("OldCapacity", 42);
        }
    }

    public void setEventSink(long sink) {
        record("setEventSink " + sink);
        maybeThrow("setEventSink");
        String eventClass = control().get("fire");
        if (eventClass == null) {
            return;
        }
        WbemClassObject event = WbemClassObject.spawn(namespacePointer, eventClass);
        event.putString("Message", "fired");
        Thread firing = new Thread(() -> {
            CheckForEvents((int) sink, (int) event.pointer());
            CheckForEvents((int) sink, 0);
            event.close();
            record("fired");
        });
        firing.start();
        try {
            firing.join();
        } catch (InterruptedException interrupted) {
            Thread.currentThread().interrupt();
        }
    }

    public native void CheckForEvents(int sink, int object);

    /** A vector whose elementAt records each read and throws at one index. */
    @SuppressWarnings("rawtypes")
    private static final class ThrowingVector extends Vector {
        private final int throwingIndex;

        ThrowingVector(int throwingIndex) {
            this.throwingIndex = throwingIndex;
        }

        @Override
        public synchronized Object elementAt(int index) {
            record("elementAt " + index);
            if (index == throwingIndex) {
                throw new IllegalStateException("thrown by elementAt " + index);
            }
            return super.elementAt(index);
        }
    }

    private Integer spawnNamed(String className, String name) {
        WbemClassObject object = WbemClassObject.spawn(namespacePointer, className);
        object.putString("Name", name);
        return Integer.valueOf(object.handOver());
    }

    private static void maybeThrow(String member) {
        if (member.equals(control().get("throw"))) {
            throw new IllegalStateException("thrown by " + member);
        }
    }

    private static Map<String, String> control() {
        Map<String, String> values = new HashMap<>();
        String file = System.getenv("VELT_TEST_GLUE_CONTROL");
        try {
            for (String line : file == null ? List.<String>of() : Files.readAllLines(Path.of(file))) {
                int equals = line.indexOf('=');
                if (equals > 0) {
                    values.put(line.substring(0, equals), line.substring(equals + 1));
                }
            }
        } catch (IOException missing) {
            // No control file: the defaults.
        }
        return values;
    }

    private static synchronized void record(String line) {
        String file = System.getenv("VELT_TEST_GLUE_LOG");
        try {
            if (file != null) {
                Files.writeString(Path.of(file), line + "\n", StandardOpenOption.CREATE,
                        StandardOpenOption.APPEND);
            }
        } catch (IOException ignored) {
            // The test then misses the record and says so.
        }
    }
}
