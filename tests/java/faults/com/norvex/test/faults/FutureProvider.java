package com.norvex.test.faults;

import com.norvex.sysmgt.provider.WmiProvider;

/** The test marks its class file as built for a Java newer than any that runs it. */
public class FutureProvider implements WmiProvider {
    @Override
    public String wmiClass() {
        return "Velt_Future";
    }
}
