import zarvi._core as core


def test_module_doc():
    assert core.__doc__ == "The `zarvi._core` extension module."


def test_exceptions_are_value_errors():
    for name in ("ParseError", "SpecError"):
        exc = getattr(core, name)
        assert issubclass(exc, ValueError)
        assert exc.__name__ == name
        assert exc.__module__ == "zarvi"


def test_all_lists_names_in_order():
    assert core.__all__[:2] == ["ParseError", "SpecError"]
    for name in core.__all__:
        assert hasattr(core, name)
