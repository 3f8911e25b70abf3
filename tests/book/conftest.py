import pytest

from book_helpers import cups_pdf_folder


@pytest.fixture
def cups_pdf():
    return cups_pdf_folder()
