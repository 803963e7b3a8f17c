package com.norvex.test;

/** What the running VM sees: its system properties and the calling thread's WMI context. */
public final class Probe {
  private Probe() {}

  /** Registered by the test: the context the sibling library holds for this thread. */
  public static native long currentContext();

  public static String property(String name) {
    return System.getProperty(name);
  }
}
