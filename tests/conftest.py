import gc
import os

import pytest


def pytest_collection_modifyitems(config, items):
    """Tests marked gui need a display; without one they are skipped, not failed."""
    if os.environ.get("DISPLAY"):
        return
    skip = pytest.mark.skip(reason="no display (run through scripts/test, which starts Xvfb)")
    for item in items:
        if "gui" in item.keywords:
            item.add_marker(skip)


@pytest.fixture
def no_tk_garbage():
    """For tests whose threads run Python: a garbage collection may start on such a thread, so the
    Tk variables earlier tests of this session left in cycles are collected here first, on the
    main thread (Tk refuses them from another: "main thread is not in main loop")."""
    gc.collect()
