#include "PythonReference.h"

namespace Orbitane::Python {

PythonReference::~PythonReference()
{
	if (!Py_IsInitialized() || Py_IsFinalizing())
	{
		m_object.release();
		return;
	}
	py::gil_scoped_acquire gil;
	m_object = py::object();
}

}
