package com.norvex.bench;

import java.util.Vector;

/** What the JNI floors call: the least Java side any request could have. */
public final class Floor {
    private static Vector<Integer> cached;

    public Floor() {}

    public int trivial(String text) {
        return 1;
    }

    /** A vector of `count` Integers, built once per size. */
    public static synchronized Vector<Integer> elements(int count) {
        if (cached == null || cached.size() != count) {
            Vector<Integer> built = new Vector<>(count);
            Integer element = Integer.valueOf(0x12345678);
            for (int i = 0; i < count; i++) {
                built.add(element);
            }
            cached = built;
        }
        return cached;
    }

    /** A native the host registers and that does nothing: the cost of one call out of Java. */
    static native void nothing(int first, int second);

    public static void callNothing(int count) {
        for (int i = 0; i < count; i++) {
            nothing(count, i);
        }
    }
}
