#include "anatomy/style/StylePropertyTable.h"
#include "core/String.h"
#include "style_bindings/StylingDetail.h"

#include <boost/regex.hpp>

#include <string>

namespace Orbitane::Bindings {

namespace {

constexpr const char* classDoc = "Known style \"property-names\"";

/// "TubeEndT" -> "TUBE_END_T": an underscore before every capital but a leading one.
std::string memberName(const std::string& sourceName)
{
	// compiled once per process; function-local statics are initialised thread-safely
	static const boost::regex capitalNotFirst("(?<!^)(?=[A-Z])");
	return String::toUpperCopy(boost::regex_replace(sourceName, capitalNotFirst, "_"));
}

/// enum.StrEnum, or on interpreters without it an equivalent member-less str/Enum base.
py::object strEnumFactory(const py::module_& enumModule, const py::object& enumBase)
{
	if (py::hasattr(enumModule, "StrEnum"))
		return enumModule.attr("StrEnum");
	py::object str = py::module_::import("builtins").attr("str");
	py::tuple bases = py::make_tuple(str, enumBase);
	py::object meta = enumModule.attr("EnumMeta");
	py::object ns = meta.attr("__prepare__")("StringEnum", bases);
	return meta("StringEnum", bases, ns);
}

}

void bindStyleProperty(py::module_& m)
{
	py::dict members, docs;
	for (const AnatomyPlugin::StylePropertyInfo& info : AnatomyPlugin::knownStyleProperties())
	{
		py::str name(memberName(std::string(info.sourceName)));
		members[name] = py::str(info.name.data(), info.name.size());
		docs[name] = py::str(info.description.data(), info.description.size());
	}
	py::module_ enumModule = py::module_::import("enum");
	py::object enumBase = enumModule.attr("Enum");
	py::object styleProperty = strEnumFactory(enumModule, enumBase)("StyleProperty", members);
	styleProperty.attr("__doc__") = classDoc;
	// The functional form takes its module from the calling Python frame, which during an import is
	// the import machinery's: pickle and the stub generator would look for the class there.
	styleProperty.attr("__module__") = m.attr("__name__");
	m.attr("StyleProperty") = styleProperty;
	for (auto [name, doc] : docs)
		styleProperty.attr(name).attr("__doc__") = doc;
}

}
