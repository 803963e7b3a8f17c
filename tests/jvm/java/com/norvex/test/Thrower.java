package com.norvex.test;

/** Throws exceptions whose messages exercise the native exception report. */
public final class Thrower {
  private Thrower() {}

  public static void withoutMessage() {
    throw new IllegalStateException();
  }

  public static void withMessage(String message) {
    throw new IllegalStateException(message);
  }

  public static void withNonAsciiMessage() {
    throw new IllegalStateException("Gr\u00fc\u00dfe \u20ac \ud834\udd1e a\u0000b");
  }

  public static void withUnreadableMessage() {
    throw new Unreadable();
  }

  private static final class Unreadable extends RuntimeException {
    private static final long serialVersionUID = 1L;

    @Override
    public String getMessage() {
      throw new IllegalStateException("the message cannot be read");
    }
  }
}
