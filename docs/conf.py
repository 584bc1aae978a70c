# The documentation site: Markdown pages (MyST) built by Sphinx.
#   sphinx-build -W --keep-going -b html docs build/docs
# The Python reference imports urea_reactor: put the built module on
# PYTHONPATH (build/ci/python, or the package's), as the ctest docs.build does.
project = "urea-plugin"
author = "the urea-plugin developers"
copyright = "the urea-plugin developers, MIT licence"

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
]
source_suffix = {".md": "markdown"}
master_doc = "index"
# Links to headings of other pages, as GitHub renders them (page.md#heading).
myst_heading_anchors = 3
myst_enable_extensions = ["dollarmath"]

# The Python module's docstrings: numpy style and Google style both read.
napoleon_numpy_docstring = True
napoleon_google_docstring = True
autodoc_default_options = {"members": True, "undoc-members": True, "show-inheritance": True}
# pybind11's signatures name C++ types Sphinx cannot link: not an error.
nitpicky = False

html_theme = "alabaster"
html_title = "urea-plugin"
exclude_patterns = ["_build"]
# The code blocks are not highlighted by language guesses that can fail.
highlight_language = "none"
# A console transcript's output is not shell: shown plain where it cannot be lexed.
suppress_warnings = ["misc.highlighting_failure"]

# The Python reference must document the module's calls. autodoc skips a
# module it cannot import with a warning (an error here, -W), but documents
# nothing, silently, where the members live in a submodule it takes for
# imports: the build fails then too.
_PYTHON_API = ("run", "fit", "sweep", "study", "estimate", "design", "monitor", "check", "Case", "Session")
_documented = set()


def _note_documented(app, what, name, obj, options, lines):
    _documented.add(name)


def _check_python_reference(app, exception):
    if exception is not None or app.builder.name != "html" or "reference/python" not in app.env.found_docs:
        return
    missing = sorted(f"urea_reactor.{n}" for n in _PYTHON_API if f"urea_reactor.{n}" not in _documented)
    if missing:
        raise RuntimeError("reference/python.md documents none of " + ", ".join(missing) +
                           " (run sphinx-build with -E, and urea_reactor on PYTHONPATH)")


def setup(app):
    app.connect("autodoc-process-docstring", _note_documented)
    app.connect("build-finished", _check_python_reference)
# Room for the command line's tables, which are some 100 columns wide.
html_theme_options = {"page_width": "1160px", "sidebar_width": "240px"}
