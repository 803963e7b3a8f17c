package com.norvex.sysmgt.provider;

/** Finds one instance by its key values. */
public interface InstanceProvider extends WmiProvider {
    /**
     * The instance the path names, or null when there is none. Make it with
     * {@link ProviderContext#newInstance()}; the returned instance passes to WMI.
     */
    Instance getInstance(ObjectPath path, ProviderContext context);
}
