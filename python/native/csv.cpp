// quorvel.csv: CSV text read into lists of rows, by the RFC 4180 loader or
// by the classes' own reader.
#include "convert.h"
// Python.h, which convert.h brings in, comes before the standard headers.
#include <quorvel/cdataset.h>
#include <quorvel/csvloader.h>

#include <string>
#include <vector>

namespace quorvel::python {

namespace {

// Reads a one-character option; false with a ValueError otherwise.
bool OneCharacter(PyObject* text, const char* what, char16_t* out) {
  std::u16string scratch;
  const std::u16string_view units = BorrowUtf16(text, scratch);
  if (units.size() != 1) {
    PyErr_Format(PyExc_ValueError, "%s must be one character, not %R", what,
                 text);
    return false;
  }
  *out = units[0];
  return true;
}

// Returns a cell: a str, or None for a field the record lacks.
PyObject* Cell(const Value& cell) {
  return cell.IsString() ? TextOf(cell.string_view()) : Py_NewRef(Py_None);
}

// The rows of a loaded table: dicts by column name when the text had a
// header, lists otherwise.
PyObject* Rows(const CDataset& table, bool header) {
  const int32_t columns = table.ColumnCount();
  std::vector<PyObject*> names;
  for (int32_t c = 1; header && c <= columns; ++c) {
    names.push_back(TextOf(table.ColumnName(c).view()));
    if (names.back() == nullptr) break;
  }
  PyObject* rows = nullptr;
  if (!header || names.empty() || names.back() != nullptr)
    rows = PyList_New(table.RowCount());
  for (int32_t r = 1; rows != nullptr && r <= table.RowCount(); ++r) {
    PyObject* row = header ? PyDict_New() : PyList_New(columns);
    for (int32_t c = 1; row != nullptr && c <= columns; ++c) {
      PyObject* cell = Cell(table.Cell(r, c));
      if (cell == nullptr) {
        Py_CLEAR(row);
      } else if (!header) {
        PyList_SET_ITEM(row, c - 1, cell);
      } else {
        if (PyDict_SetItem(row, names[size_t(c - 1)], cell) != 0) Py_CLEAR(row);
        Py_DECREF(cell);
      }
    }
    if (row == nullptr) {
      Py_CLEAR(rows);
    } else {
      PyList_SET_ITEM(rows, r - 1, row);
    }
  }
  for (PyObject* name : names) Py_XDECREF(name);
  return rows;
}

// csv_read(text, standard, separator, header, quotes, comment, uneven)
PyObject* Read(PyObject*, PyObject* args) {
  PyObject* text;
  int standard, header, quotes, uneven;
  PyObject* separator;
  PyObject* comment;
  if (!PyArg_ParseTuple(args, "UpUppOp:read", &text, &standard, &separator,
                        &header, &quotes, &comment, &uneven))
    return nullptr;
  CsvOptions options;
  options.has_header = header != 0;
  CsvDialect dialect;
  dialect.quotes = quotes != 0;
  dialect.uneven = uneven != 0;
  if (comment != Py_None &&
      (!PyUnicode_Check(comment) ||
       !OneCharacter(comment, "comment", &dialect.comment))) {
    if (!PyErr_Occurred())
      PyErr_SetString(PyExc_TypeError, "comment must be a str or None");
    return nullptr;
  }
  std::u16string scratch;
  const std::u16string_view units = BorrowUtf16(text, scratch);
  Ref<CDataset> table;
  bool ran;
  if (standard) {
    if (!OneCharacter(separator, "separator", &options.separator))
      return nullptr;
    ran = RunReleased(units.size(), [&] {
      table = CDataset::Create();
      CsvLoader loader(*table, options, dialect);
      loader.Feed(units);
      loader.Finish();
    });
  } else {
    if (!quotes || comment != Py_None || uneven) {
      PyErr_SetString(PyExc_ValueError,
                      "quotes, comment and uneven belong to standard CSV");
      return nullptr;
    }
    const String separator_text = StringOf(separator);
    const String csv = String(units);
    ran = RunReleased(units.size(), [&] {
      table = CDataset::Create();
      table->FromCSV(csv, options.has_header, separator_text);
    });
  }
  if (!ran) return nullptr;
  return Rows(*table, options.has_header);
}

PyMethodDef methods[] = {
    {"csv_read", Read, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool AddCsv(PyObject* module) {
  return PyModule_AddFunctions(module, methods) == 0;
}

}  // namespace quorvel::python
