package com.norvex.test.rival;

import com.norvex.sysmgt.provider.WmiProvider;

/** Serves Velt_Shared, which a provider of another jar serves already. */
public class RivalProvider implements WmiProvider {
    @Override
    public String wmiClass() {
        return "Velt_Shared";
    }
}
