package com.norvex.sysmgt.proxy;

/** A Glue the provider cannot construct: it lacks the (long, String) constructor. */
public class Glue {
    public Glue(String namespaceName) {}
}
