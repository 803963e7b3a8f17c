package com.norvex.sysmgt.cim.wmi.wbem;

import java.io.File;

/**
 * Binds the natives of this package. The server loads the sibling library itself before the VM
 * starts, but the VM links natives only from libraries loaded through System.load, so the same
 * file is loaded again here. The server names the file it loaded in the "qelvor.library"
 * property; exactly that file is bound, because another copy of the library would keep thread
 * contexts of its own that the server never sets. Without the property (a VM the server did
 * not start) the file is looked for in the folder named by "qelvor.library.dir", otherwise in
 * the server's folder (the "CWD" property), otherwise through java.library.path.
 */
final class NativeLibrary {
    private NativeLibrary() {}

    private static boolean loaded;

    static synchronized void ensureLoaded() {
        if (loaded) {
            return;
        }
        String served = System.getProperty("qelvor.library");
        if (served != null && !served.isEmpty()) {
            System.load(new File(served).getAbsolutePath());
            loaded = true;
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
