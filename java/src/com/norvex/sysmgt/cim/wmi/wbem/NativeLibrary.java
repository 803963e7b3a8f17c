package com.norvex.sysmgt.cim.wmi.wbem;

import java.io.File;

/**
 * Binds the natives of this package. The server loads the sibling library itself before the VM
 * starts, but the VM links natives only from libraries loaded through System.load, so the same
 * file is loaded again here: from the folder named by the "qelvor.library.dir" property when a
 * test sets it, otherwise from the server's folder (the "CWD" property), otherwise through
 * java.library.path.
 */
final class NativeLibrary {
    private NativeLibrary() {}

    private static boolean loaded;

    static synchronized void ensureLoaded() {
        if (loaded) {
            return;
        }
        String fileName = System.mapLibraryName("qelvor");
        String folder = System.getProperty("qelvor.library.dir");
        if (folder == null || folder.isEmpty()) {
            folder = System.getProperty("CWD");
        }
        File candidate = folder == null || folder.isEmpty() ? null : new File(folder, fileName);
        if (candidate != null && candidate.isFile()) {
            System.load(candidate.getAbsolutePath());
        } else {
            System.loadLibrary("qelvor");
        }
        loaded = true;
    }
}
