#include "entry/VersionCheck.h"

namespace Orbitane::Bindings {

bool isCompatibleInterpreter(std::string_view compiledFor, std::string_view runtimeVersion)
{
	if (!runtimeVersion.starts_with(compiledFor))
		return false;
	if (runtimeVersion.size() == compiledFor.size())
		return true;
	const char next = runtimeVersion[compiledFor.size()];
	return next < '0' || next > '9';
}

std::optional<std::string> interpreterMismatchMessage(std::string_view compiledFor, std::string_view runtimeVersion)
{
	if (isCompatibleInterpreter(compiledFor, runtimeVersion))
		return std::nullopt;
	std::string message = "Python version mismatch: module was compiled for Python ";
	message.append(compiledFor);
	message.append(", but the interpreter version is incompatible: ");
	message.append(runtimeVersion);
	message.append(".");
	return message;
}

}
