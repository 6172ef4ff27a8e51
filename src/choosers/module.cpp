// larkui.choosers: the import of the maker's file library, which is not on PyPI.
#include "choosers.hpp"

namespace choosers {

using namespace lark;

// from fernkit import filedesk; a failed import says what to install.
void import_filedesk(Module& m, State&) {
    try {
        m.from_import("fernkit", {"filedesk"});
    } catch (const PyErrOccurred&) {
        if (!PyErr_ExceptionMatches(PyExc_ImportError)) throw;
        add_note_to_pending(
            "larkui.choosers needs fernkit.filedesk, which is not on PyPI: install the stand-in that comes with "
            "larkui's sources, with `pip install ./fernkit` in a source checkout (or `pip install` its wheel)");
        throw;
    }
}

}  // namespace choosers
