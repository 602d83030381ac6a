#include "Bindings.h"

#include "core/String.h"

#include <exception>
#include <new>
#include <stdexcept>

namespace Orbitane::Python {

namespace {

/// The Python class that the binding library's own translation raises for e.
py::handle pythonClassFor(const std::exception& e)
{
	if (dynamic_cast<const py::key_error*>(&e))
		return PyExc_KeyError;
	if (dynamic_cast<const py::index_error*>(&e) || dynamic_cast<const std::out_of_range*>(&e))
		return PyExc_IndexError;
	if (dynamic_cast<const py::type_error*>(&e) || dynamic_cast<const py::reference_cast_error*>(&e))
		return PyExc_TypeError;
	if (dynamic_cast<const py::attribute_error*>(&e))
		return PyExc_AttributeError;
	if (dynamic_cast<const py::stop_iteration*>(&e))
		return PyExc_StopIteration;
	if (dynamic_cast<const py::import_error*>(&e))
		return PyExc_ImportError;
	if (dynamic_cast<const py::buffer_error*>(&e))
		return PyExc_BufferError;
	if (dynamic_cast<const std::overflow_error*>(&e))
		return PyExc_OverflowError;
	if (dynamic_cast<const std::bad_alloc*>(&e))
		return PyExc_MemoryError;
	if (dynamic_cast<const py::value_error*>(&e) || dynamic_cast<const std::invalid_argument*>(&e) ||
	    dynamic_cast<const std::domain_error*>(&e) || dynamic_cast<const std::length_error*>(&e) ||
	    dynamic_cast<const std::range_error*>(&e))
		return PyExc_ValueError;
	return PyExc_RuntimeError;
}

// Native messages may quote bytes from a damaged file or from a bytes argument. Python makes a str
// of a message only from UTF-8 and raises UnicodeDecodeError in place of the error otherwise, so
// such a message arrives with its invalid bytes replaced; every other error passes on untouched.
void translateUndecodableMessage(std::exception_ptr p)
{
	if (!p)
		return;
	try
	{
		std::rethrow_exception(p);
	}
	catch (const py::error_already_set&)
	{
		throw;
	}
	catch (const std::exception& e)
	{
		if (String::isUtf8(e.what()))
			throw;
		py::set_error(pythonClassFor(e), String::withValidUtf8(e.what()).c_str());
	}
}

}

void bindErrorTranslation()
{
	// registered before every other translator, so that it is asked last, after each of them
	py::register_exception_translator(&translateUndecodableMessage);
}

}
