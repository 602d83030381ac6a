#include "Bindings.h"
#include "Conversions.h"
#include "Pickling.h"

#include "data/DeferredCopies.h"
#include "data/SharedImageSet.h"

#include <fmt/format.h>

#include <cstring>
#include <limits>

namespace Orbitane::Python {

namespace {

constexpr const char* kDtypes = "uint8, int8, uint16, int16, uint32, int32, float32, float64";

PixelType pixelTypeOf(const py::dtype& dtype)
{
	const char kind = dtype.kind();
	const auto size = dtype.itemsize();
	if (kind == 'u' || kind == 'i')
	{
		const bool u = kind == 'u';
		if (size == 1)
			return u ? PixelType::UInt8 : PixelType::Int8;
		if (size == 2)
			return u ? PixelType::UInt16 : PixelType::Int16;
		if (size == 4)
			return u ? PixelType::UInt32 : PixelType::Int32;
	}
	if (kind == 'f' && size == 4)
		return PixelType::Float;
	if (kind == 'f' && size == 8)
		return PixelType::Double;
	throw py::type_error(
	    fmt::format("images cannot hold dtype {}; use one of {}", py::str(dtype).cast<std::string>(), kDtypes));
}

template <typename F>
decltype(auto) withPixelType(PixelType t, F&& f)
{
	switch (t)
	{
		case PixelType::UInt8: return f(std::uint8_t{});
		case PixelType::Int8: return f(std::int8_t{});
		case PixelType::UInt16: return f(std::uint16_t{});
		case PixelType::Int16: return f(std::int16_t{});
		case PixelType::UInt32: return f(std::uint32_t{});
		case PixelType::Int32: return f(std::int32_t{});
		case PixelType::Float: return f(float{});
		case PixelType::Double: return f(double{});
	}
	throw std::invalid_argument("unknown pixel type");
}

// numpy's [z, y, x] (or [y, x]) order is the reverse of the image's (x, y, z) dimensions.
Eigen::Vector3i dimensionsOf(const py::array& a)
{
	if (a.ndim() != 2 && a.ndim() != 3)
		throw py::value_error(fmt::format("image arrays must be 2-D [y, x] or 3-D [z, y, x], got shape {}",
		                                  py::str(a.attr("shape")).cast<std::string>()));
	Eigen::Vector3i dims(1, 1, 1);
	for (py::ssize_t axis = 0; axis < a.ndim(); ++axis)
	{
		const py::ssize_t extent = a.shape(a.ndim() - 1 - axis);
		if (extent == 0)
			throw py::value_error("image arrays must not be empty");
		if (extent > std::numeric_limits<int>::max())
			throw py::value_error("image arrays must have fewer than 2**31 voxels along each axis");
		dims[static_cast<int>(axis)] = static_cast<int>(extent);
	}
	return dims;
}

Eigen::Vector3d spacingOf(py::handle spacing)
{
	Eigen::VectorXd s = toVector(spacing, "spacing", {2, 3});
	if (!s.allFinite() || (s.array() <= 0.0).any())
		throw py::value_error("spacing values must be positive");
	return s.size() == 2 ? Eigen::Vector3d(s[0], s[1], 1.0) : Eigen::Vector3d(s);
}

std::shared_ptr<SharedImage> imageFromArray(py::handle array, py::handle spacing, Modality modality)
{
	py::array a = py::module_::import("numpy").attr("asarray")(array);
	const PixelType type = pixelTypeOf(a.dtype());
	const Eigen::Vector3i dims = dimensionsOf(a);
	auto image = std::make_shared<SharedImage>(type, dims, spacingOf(spacing), modality);
	withPixelType(type, [&](auto zero) {
		using T = decltype(zero);
		auto c = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(a);
		std::memcpy(image->data(), c.data(), image->byteSize());
	});
	return image;
}

py::array imageToArray(const SharedImage& image)
{
	const auto& d = image.dimensions();
	std::vector<py::ssize_t> shape;
	if (!image.is2D())
		shape.push_back(d.z());
	shape.push_back(d.y());
	shape.push_back(d.x());
	return withPixelType(image.pixelType(), [&](auto zero) -> py::array {
		using T = decltype(zero);
		py::array_t<T> out(shape);
		std::memcpy(out.mutable_data(), image.data(), image.byteSize());
		return out;
	});
}

std::shared_ptr<SharedImage> imageAt(const SharedImageSet& set, int i)
{
	if (auto image = set.get(i))
		return image;
	if (set.size() == 0)
		throw py::index_error("the image set is empty");
	throw py::index_error(fmt::format("image index {} out of range for a set of {} images", i, set.size()));
}

void addImage(SharedImageSet& set, py::handle array, py::handle spacing, py::handle matrix, py::handle modality)
{
	const Modality m = modality.is_none() ? set.modality() : modality.cast<Modality>();
	auto image = imageFromArray(array, spacing, m);
	std::optional<Eigen::Matrix4d> toWorld;
	if (!matrix.is_none())
		toWorld = toMatrix4(matrix, "matrix_to_world");
	// every check is done: from here on nothing can fail halfway
	set.add(std::move(image));
	if (toWorld)
		set.setMatrixToWorld(*toWorld);
}

std::shared_ptr<SharedImageSet> makeSet(py::handle array, py::handle spacing, py::handle matrix, Modality modality)
{
	auto set = std::make_shared<SharedImageSet>();
	addImage(*set, array, spacing, matrix, py::none());
	set->setModality(modality);
	return set;
}

}

void bindImages(py::module_& m)
{
	const auto ones = py::make_tuple(1.0, 1.0, 1.0);
	py::class_<SharedImageSet, Data, std::shared_ptr<SharedImageSet>> cls(
	    m, "SharedImageSet",
	    "An ordered set of images with one focused image, placed in the world by the set's matrix. Arrays are "
	    "indexed [z, y, x] (or [y, x] for 2-D images), spacing is given as (x, y, z). Supported dtypes: "
	    "uint8, int8, uint16, int16, uint32, int32, float32, float64.");
	publicIn(cls)
	    .def(py::init([] { return std::make_shared<SharedImageSet>(); }))
	    .def(py::init(&makeSet), py::arg("array"), py::arg("spacing") = ones, py::arg("matrix_to_world") = py::none(),
	         py::arg_v("modality", Modality::NA, "orbitane.Modality.NA"),
	         "A set holding one image made from a copy of the array.")
	    .def("add", &addImage, py::arg("array"), py::arg("spacing") = ones, py::arg("matrix_to_world") = py::none(),
	         py::arg("modality") = py::none(),
	         "Appends an image made from a copy of the array. matrix_to_world, if given, becomes the set's matrix; "
	         "modality defaults to the set's.")
	    .def("__len__", &SharedImageSet::size)
	    .def("len", &SharedImageSet::size, "The number of images.")
	    .def(
	        "array", [](const SharedImageSet& s, int i) { return imageToArray(*imageAt(s, i)); }, py::arg("i") = -1,
	        "A copy of image i as a numpy array; -1 gives the focused image. Images of one slice come "
	        "back as 2-D [y, x] arrays.")
	    .def_property(
	        "spacing", [](const SharedImageSet& s) { return toNumpy(imageAt(s, -1)->spacing()); },
	        [](SharedImageSet& s, py::handle v) {
		        const Eigen::Vector3d spacing = spacingOf(v);
		        imageAt(s, -1)->setSpacing(spacing);
	        },
	        "Voxel spacing (x, y, z) of the focused image.")
	    .def_property("focus", &SharedImageSet::focus, &SharedImageSet::setFocus, "Index of the focused image.")
	    .def(
	        "clone",
	        [](const SharedImageSet& s) {
		        return withDeferredCopies([&] { return std::shared_ptr<SharedImageSet>(s.clone()); });
	        },
	        "A deep copy: images, matrix, name and components are copied.");
	enableDataPickling<SharedImageSet>(cls, "orbitane.SharedImageSet");
}

}
