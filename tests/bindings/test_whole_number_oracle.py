"""The core's whole-number rule against Python's own int(), over the named cases the C++ tests
read too and over many random and adversarial texts: both must accept exactly the same texts
with the same value."""
import json
import random
import sys
import unicodedata
from pathlib import Path

import pytest

from hypothesis import given, settings, strategies as st

from receiptora import _numbers

LIMIT = sys.get_int_max_str_digits()

# Characters that matter to the rule, weighted towards the tricky ones.
DIGITS = [chr(c) for c in range(0x110000) if unicodedata.decimal(chr(c), None) is not None]
SPACES = [chr(c) for c in range(0x110000) if chr(c).isspace()]
NEAR_MISSES = ["²", "½", "Ⅻ", "三", "٫", "٬", "＋", "－", "−", "\x00", ".", ",", "e", "x", "\ud800", "🙂"]
ALPHABET = ["0", "1", "7", "9", "_", "_", "+", "-", " "] + DIGITS[:40] + SPACES + NEAR_MISSES


def oracle(text):
    try:
        return int(text)
    except ValueError:
        return None


CASES = json.loads((Path(__file__).parents[2] / "core" / "tests" / "cases" / "whole_number.json").read_text())


@pytest.mark.parametrize("case", CASES, ids=[case["label"] for case in CASES])
def test_named_cases_read_as_the_table_and_python_int_say(case):
    value = None if case["value"] is None else int(case["value"])
    assert oracle(case["text"]) == value  # the table is right about Python
    assert _numbers.read_whole_number(case["text"]) == value


def random_text(rng):
    shape = rng.random()
    if shape < 0.5:  # mostly digits with some decoration
        body = "".join(rng.choice(DIGITS if rng.random() < 0.3 else "0123456789") for _ in range(rng.randint(0, 12)))
        if rng.random() < 0.4:
            cut = rng.randint(0, len(body))
            body = body[:cut] + rng.choice(["_", "__", " ", "_"]) + body[cut:]
        sign = rng.choice(["", "", "+", "-", "+ ", "--", "＋"])
        pad = lambda: "".join(rng.choice(SPACES) for _ in range(rng.randint(0, 2)))  # noqa: E731
        return pad() + sign + body + pad()
    if shape < 0.9:
        return "".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 10)))
    return "".join(chr(rng.randint(0, 0x10FFFF)) for _ in range(rng.randint(0, 4)))


def test_random_texts_read_exactly_as_python_int():
    rng = random.Random(20261207)
    accepted = 0
    for _ in range(150_000):
        text = random_text(rng)
        expected = oracle(text)
        got = _numbers.read_whole_number(text)
        assert got == expected, repr(text)
        accepted += expected is not None
    # The generator must exercise both outcomes, or the comparison proves little.
    assert 20_000 < accepted < 130_000


@settings(max_examples=3000, deadline=None)
@given(st.text(alphabet=st.sampled_from(ALPHABET), max_size=16))
def test_shrinkable_texts_read_exactly_as_python_int(text):
    assert _numbers.read_whole_number(text) == oracle(text)


def test_numbers_beyond_python_digit_limit_are_read_in_full():
    digits = "12345678901" * (LIMIT // 5)
    value = _numbers.read_whole_number(" -" + digits + "\u3000")
    assert value < 0
    with_limit_lifted = sys.get_int_max_str_digits()
    sys.set_int_max_str_digits(0)
    try:
        assert value == -int(digits)
    finally:
        sys.set_int_max_str_digits(with_limit_lifted)


def test_big_integers_cross_the_binding_unchanged():
    for value in [0, 1, -1, 255, 256, -256, 2**64, -(2**64) + 1, 7 ** 20000, -(3 ** 30001)]:
        assert _numbers.int_roundtrip(value) == value
