"""The `receiptora` command: opens the receipt window.

The window module `GUI` runs standalone (loaded as the main program, so an output press
prints the receipt request) until the receipt worker joins the host.
"""
import argparse
import ctypes
import importlib.machinery
import importlib.util
import sys

PYTHON_API_VERSION = 1013


def run_standalone():
    """Loads the GUI module under the name "__main__", which opens the window itself.

    The import system would look for an entry point named after "__main__", so this
    performs the module's two initialisation steps directly, as the importer does.
    """
    found = importlib.util.find_spec("GUI")
    if found is None or found.origin is None:
        raise ImportError("the Receiptora window module GUI is not installed")
    library = ctypes.PyDLL(found.origin)
    init = library.PyInit_GUI
    init.restype = ctypes.c_void_p
    init.argtypes = []
    definition = init()

    api = ctypes.pythonapi
    api.PyModule_FromDefAndSpec2.restype = ctypes.py_object
    api.PyModule_FromDefAndSpec2.argtypes = [ctypes.c_void_p, ctypes.py_object, ctypes.c_int]
    api.PyModule_ExecDef.restype = ctypes.c_int
    api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]

    spec = importlib.machinery.ModuleSpec("__main__", found.loader, origin=found.origin)
    spec.has_location = True
    module = api.PyModule_FromDefAndSpec2(definition, spec, PYTHON_API_VERSION)
    api.PyModule_ExecDef(module, definition)  # runs the window until it is closed
    return module


def main(argv=None):
    parser = argparse.ArgumentParser(prog="receiptora", description="Opens the Receiptora receipt window.")
    parser.add_argument("--standalone", action="store_true",
                        help="run the window on its own: an output press prints the request")
    parser.parse_args(argv)
    run_standalone()
    return 0


if __name__ == "__main__":
    sys.exit(main())
