package com.norvex.sysmgt.provider;

/** Carries out the class's methods. */
public interface MethodProvider extends WmiProvider {
    /**
     * Runs {@code method} on the object {@code target} names (a class path for static methods).
     * {@code in} holds the in-parameters ({@link Instance#isEmpty()} when there are none);
     * fill {@code out}, including "ReturnValue" where the method declares one. Both belong to
     * the caller and are valid only during the call.
     */
    void invokeMethod(ObjectPath target, String method, Instance in, Instance out,
            ProviderContext context);
}
