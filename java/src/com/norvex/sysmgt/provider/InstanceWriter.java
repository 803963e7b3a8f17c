package com.norvex.sysmgt.provider;

/** Creates or updates an instance. */
public interface InstanceWriter extends WmiProvider {
    /**
     * Stores the instance's values. The instance belongs to WMI and is valid only during the
     * call: read what is needed, do not keep it.
     */
    void putInstance(Instance instance, ProviderContext context);
}
