import zarvi._core as core


def test_module_doc():
    assert core.__doc__ == "The `zarvi._core` extension module."


def test_exceptions_are_value_errors():
    for name in ("ParseError", "SpecError"):
        exc = getattr(core, name)
        assert issubclass(exc, ValueError)
        assert exc.__name__ == name
        assert exc.__module__ == "zarvi"


ORDER = [
    "ParseError", "SpecError", "Diagnostic", "Delimiters", "Document", "Segment",
    "Result", "Spec", "Batch", "Stream", "Table", "Tables", "Envelope",
    "WriteFinding", "_external_diagnostic", "parse", "_loop_paths", "stream",
    "_write", "EDI_835_PARSER_PATCH",
]


def test_all_lists_names_in_registration_order():
    # The module grows by subsystem; whatever it holds keeps the fixed order.
    assert core.__all__[:2] == ["ParseError", "SpecError"]
    assert core.__all__ == [n for n in ORDER if n in core.__all__]
    for name in core.__all__:
        assert hasattr(core, name)
