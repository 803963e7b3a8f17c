package com.norvex.sysmgt.provider;

import java.util.List;

/** Lists every instance of the class. */
public interface InstanceEnumerator extends WmiProvider {
    /** The instances, each made with {@link ProviderContext#newInstance()}; all pass to WMI. */
    List<Instance> enumerateInstances(ProviderContext context);
}
