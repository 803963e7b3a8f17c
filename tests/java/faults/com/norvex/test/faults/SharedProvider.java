package com.norvex.test.faults;

import com.norvex.sysmgt.provider.WmiProvider;

/** Serves Velt_Shared, as a provider in another jar does too. */
public class SharedProvider implements WmiProvider {
    @Override
    public String wmiClass() {
        return "Velt_Shared";
    }
}
