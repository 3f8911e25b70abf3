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
