#include "Bindings.h"
#include "Conversions.h"
#include "SignalBinding.h"

namespace Orbitane::Python {

void bindSignal(py::module_& m)
{
	py::class_<SignalHandle> cls(m, "Signal",
	                             "A native signal. Connected callables run synchronously, in connection "
	                             "order, whenever it is emitted; an exception raised by one propagates to "
	                             "the code that caused the emission.");
	publicIn(cls)
	    .def("connect", &SignalHandle::connect, py::arg("callable"),
	         "Connects a callable; returns an id for disconnect().")
	    .def("disconnect", &SignalHandle::disconnect, py::arg("id"),
	         "Disconnects the callable connected under id; returns whether there was one.")
	    .def_property_readonly("num_connections", &SignalHandle::numConnections);
}

}
