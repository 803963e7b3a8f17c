package com.norvex.sysmgt.proxy;

/** A Glue that has its constructor and none of the members the provider calls. */
public class Glue {
    public Glue(long namespacePointer, String namespaceName) {}
}
