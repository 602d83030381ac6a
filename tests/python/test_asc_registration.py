"""ASCRegistration: its Python face (constructor, method enumeration, property, lifetime of the
collections it refers to) and what compute does to the moving collection with each method."""

import gc
import logging
import weakref

import numpy as np
import pytest

import orbitane
import orbitane.anatomy as anatomy

Registration = anatomy.ASCRegistration
Method = Registration.RegistrationMethod
LOGGER = "orbitane.AnatomyPlugin.ASCRegistration"
SEGMENTATION = "Orbitane.Segmentation"


def rotation(degrees, axis):
    axis = np.asarray(axis, float) / np.linalg.norm(axis)
    k = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    a = np.radians(degrees)
    return np.eye(3) + np.sin(a) * k + (1 - np.cos(a)) * k @ k


def motion(degrees, axis, shift, scale=1.0, about=(0, 0, 0)):
    m = np.eye(4)
    m[:3, :3] = scale * rotation(degrees, axis)
    about = np.asarray(about, float)
    m[:3, 3] = np.asarray(shift, float) + about - m[:3, :3] @ about
    return m


def apply(m, p):
    p = np.atleast_2d(p)
    return (p @ m[:3, :3].T + m[:3, 3]).squeeze()


def structure(identifier, **keypoints):
    s = anatomy.GenericAnatomicalStructure(identifier)
    s.keypoints2.update(keypoints)
    return s


def landmarks(m=np.eye(4)):
    """Four keypoints over three structures, and a mesh, all moved by m."""
    c = anatomy.GenericASC()
    c.add(structure("femur", head=apply(m, [10, 2, 3]), knee=apply(m, [0.5, -1, 2])))
    c.add(structure("tibia", plateau=apply(m, [-3, 8, 1]), ankle=apply(m, [-2, 30, 0])))
    patella = structure("patella")
    patella.meshes["surface"] = orbitane.Mesh(apply(m, [[0, 0, 0], [4, 0, 0], [0, 4, 0]]), [[0, 1, 2]])
    c.add(patella)
    return c


def on_a_line(c):
    c.anatomical_structure("femur").keypoints2.update({"head": [0, 0, 0], "knee": [1, 1, 1]})
    c.anatomical_structure("tibia").keypoints2.update({"plateau": [2, 2, 2], "ankle": [3, 3, 3]})


def keypoints_of(c):
    return {(i, k): c.anatomical_structure(i).keypoints2[k]
            for i in c.anatomical_structure_identifiers() for k in c.anatomical_structure(i).keypoints2.keys()}


def state_of(c):
    """Everything compute may change, as plain values."""
    out = {}
    for i in c.anatomical_structure_identifiers():
        s = c.anatomical_structure(i)
        out[i, "matrix"] = s.matrix_to_world
        for k in s.keypoints2.keys():
            out[i, "kp", k] = s.keypoints2[k]
        for k in s.meshes.keys():
            mesh = s.meshes[k]
            out[i, "mesh", k] = apply(mesh.matrix_to_world, mesh.vertices)
        for k in s.images.keys():
            out[i, "image", k] = s.images[k].matrix_to_world
    return out


def assert_same_state(a, b):
    assert a.keys() == b.keys()
    for key in a:
        np.testing.assert_array_equal(a[key], b[key], err_msg=str(key))


@pytest.fixture
def error_log(caplog):
    caplog.set_level(logging.ERROR, logger=LOGGER)
    return caplog


def messages(caplog):
    return [r.getMessage() for r in caplog.records if r.name == LOGGER]


class TestPythonSurface:
    def test_class_and_constructor(self):
        assert Registration.__bases__ == (orbitane.Algorithm,)
        assert Registration.__doc__ is None
        assert Registration.__init__.__doc__ == (
            "__init__(self: orbitane.anatomy.ASCRegistration, fixed: orbitane.anatomy.AnatomicalStructureCollection, "
            "moving: orbitane.anatomy.AnatomicalStructureCollection) -> None\n\n"
            "Registration between AnatomicalStructureCollectionObjects\n")
        assert Registration.registration_method.__doc__ == "Registration method"

    def test_enumeration_members_in_order(self):
        assert list(Method.__members__) == ["DeformableMeshRegistration", "RigidImages", "PointsAndPlanes",
                                            "PointsRigidScaling"]
        assert [int(m) for m in Method.__members__.values()] == [2, 3, 1, 4]
        assert int(Method.PointsAndPlanes) == 1
        assert Method.PointsAndPlanes.value == 1
        assert Method.RigidImages.name == "RigidImages"
        assert Method(4) == Method.PointsRigidScaling
        assert Method(4) != Method.PointsAndPlanes
        assert Method.__doc__ == ("Members:\n\n  DeformableMeshRegistration\n\n  RigidImages\n\n  PointsAndPlanes\n\n"
                                  "  PointsRigidScaling")
        assert Method.__qualname__ == "ASCRegistration.RegistrationMethod"
        for member in Method.__members__:
            assert not hasattr(Registration, member)
        # no arithmetic: members are not ints
        with pytest.raises(TypeError):
            Method.PointsAndPlanes + 1
        unnamed = Method(9)
        assert int(unnamed) == 9
        assert unnamed.name == "???"

    def test_method_property(self):
        r = Registration(anatomy.GenericASC(), anatomy.GenericASC())
        assert r.registration_method == Method.PointsAndPlanes
        changes = []
        r.param("registrationMethod").changed.connect(lambda: changes.append(r.registration_method))
        r.registration_method = Method.PointsAndPlanes
        assert changes == []
        r.registration_method = Method.RigidImages
        assert changes == [Method.RigidImages]
        assert r.registration_method == Method.RigidImages
        assert r.p_registrationMethod == 3
        for wrong in (1, 3.0, "RigidImages", None, orbitane.Modality.CT):
            with pytest.raises(TypeError):
                r.registration_method = wrong
        assert r.registration_method == Method.RigidImages
        assert changes == [Method.RigidImages]

    def test_transformation_is_read_only_and_identity_before_compute(self):
        r = Registration(anatomy.GenericASC(), anatomy.GenericASC())
        assert "transformation" in r.parameter_names()
        np.testing.assert_array_equal(r.p_transformation, np.eye(4))
        with pytest.raises(AttributeError):
            r.p_transformation = np.eye(4) * 2

    @pytest.mark.parametrize("args, kwargs", [
        ((), {}),
        ((None, anatomy.GenericASC()), {}),
        ((anatomy.GenericASC(), None), {}),
        ((anatomy.GenericASC(), orbitane.Mesh(np.zeros((3, 3)), [[0, 1, 2]])), {}),
        ((anatomy.GenericASC(),), {}),
        ((), {"fixed": anatomy.GenericASC(), "mobile": anatomy.GenericASC()}),
        ((anatomy.GenericAnatomicalStructure("a"), anatomy.GenericASC()), {}),
    ])
    def test_constructor_refuses_what_is_not_a_collection(self, args, kwargs):
        with pytest.raises(TypeError) as error:
            Registration(*args, **kwargs)
        assert str(error.value).startswith("__init__(): incompatible constructor arguments.")

    def test_arguments_by_position_and_by_keyword(self):
        truth = motion(30, [1, 1, 0], [5, -2, 1])
        for make in (lambda f, m: Registration(f, m), lambda f, m: Registration(moving=m, fixed=f)):
            fixed, moving = landmarks(), landmarks(np.linalg.inv(truth))
            before = keypoints_of(fixed)
            r = make(fixed, moving)
            r.compute()
            assert r.status == 0
            np.testing.assert_allclose(r.p_transformation, truth, atol=1e-9)
            for key, value in keypoints_of(moving).items():
                np.testing.assert_allclose(value, before[key], atol=1e-9)
            assert keypoints_of(fixed).keys() == before.keys()


class TestLifetime:
    def test_collections_live_as_long_as_the_registration(self):
        fixed, moving = anatomy.GenericASC(), anatomy.GenericASC()
        watch = [weakref.ref(fixed), weakref.ref(moving)]
        r = Registration(fixed, moving)
        del fixed, moving
        gc.collect()
        assert all(w() is not None for w in watch)
        del r
        gc.collect()
        assert all(w() is None for w in watch)

    def test_compute_on_temporaries_is_safe(self, error_log):
        r = Registration(anatomy.GenericASC(), anatomy.GenericASC())
        gc.collect()
        r.compute()
        assert r.status != 0
        assert len(messages(error_log)) == 1
        r = Registration(landmarks(), landmarks(motion(10, [0, 0, 1], [1, 2, 3])))
        gc.collect()
        r.compute()
        assert r.status == 0


class TestRigidMethods:
    def test_points_and_planes_moves_the_moving_collection_in_place(self):
        truth = motion(-40, [0.2, 1, 0.7], [12, 3, -8])
        fixed, moving = landmarks(), landmarks(np.linalg.inv(truth))
        moving.add(structure("fibula", tip=[1, 1, 1]))     # no partner: rides along
        handle = moving.anatomical_structure("tibia")
        r = Registration(fixed, moving)
        progress = []
        r.progress.connect(progress.append)
        r.compute()
        assert r.status == 0
        assert progress[-1] == 1.0
        np.testing.assert_allclose(r.p_transformation, truth, atol=1e-9)
        assert handle.valid
        np.testing.assert_allclose(handle.keypoints2["ankle"], [-2, 30, 0], atol=1e-9)
        np.testing.assert_allclose(moving.anatomical_structure("fibula").keypoints2["tip"], apply(truth, [1, 1, 1]),
                                   atol=1e-9)
        mesh = moving.anatomical_structure("patella").meshes["surface"]
        np.testing.assert_allclose(apply(mesh.matrix_to_world, mesh.vertices),
                                   fixed.anatomical_structure("patella").meshes["surface"].vertices, atol=1e-9)
        np.testing.assert_allclose(handle.matrix_to_world, truth, atol=1e-9)

    def test_points_and_planes_from_three_planes_and_a_point(self):
        truth = motion(75, [1, -1, 2], [-3, 4, 10])

        def collection(m):
            s = anatomy.GenericAnatomicalStructure("pelvis")
            inverse_t = np.linalg.inv(m).T
            planes = {"a": [1, 0, 0, -2], "b": [0.2, 1, 0, 3], "c": [0, 0.3, 2, -1]}
            s.planes.update({k: inverse_t @ np.array(v, float) for k, v in planes.items()})
            s.keypoints2["centre"] = apply(m, [3, 1, -4])
            c = anatomy.GenericASC()
            c.add(s)
            return c

        fixed, moving = collection(np.eye(4)), collection(np.linalg.inv(truth))
        r = Registration(fixed, moving)
        r.compute()
        assert r.status == 0
        np.testing.assert_allclose(r.p_transformation, truth, atol=1e-9)

    def test_points_rigid_scaling_recovers_the_scale(self):
        truth = motion(50, [0, 1, 1], [3, 3, 3], scale=0.6)
        fixed, moving = landmarks(), landmarks(np.linalg.inv(truth))
        r = Registration(fixed, moving)
        r.registration_method = Method.PointsRigidScaling
        r.compute()
        assert r.status == 0
        np.testing.assert_allclose(r.p_transformation, truth, atol=1e-9)
        for key, value in keypoints_of(moving).items():
            np.testing.assert_allclose(value, keypoints_of(fixed)[key], atol=1e-9)

    def test_residual_is_recorded_logged_and_a_poor_fit_warned_of(self, caplog):
        caplog.set_level(logging.INFO, logger=LOGGER)
        previous = orbitane.get_log_level()
        orbitane.set_log_level(2)
        try:
            fixed = landmarks()
            points = np.array(list(keypoints_of(fixed).values()))
            spread = np.sqrt(((points - points.mean(axis=0)) ** 2).sum(axis=1).mean())
            outcomes = []
            for method in (Method.PointsAndPlanes, Method.PointsRigidScaling):
                r = Registration(fixed, landmarks(motion(10, [0, 0, 1], [1, 2, 3], scale=1.5)))
                assert r.p_residual == 0.0
                r.registration_method = method
                caplog.clear()
                r.compute()
                assert r.status == 0
                outcomes.append((r.p_residual, [(x.levelno, x.getMessage()) for x in caplog.records if x.name == LOGGER]))
            with pytest.raises(AttributeError):
                r.p_residual = 1.0
        finally:
            orbitane.set_log_level(previous)
        (rigid, rigid_log), (scaled, scaled_log) = outcomes
        assert rigid > 0.1 * spread and scaled < 1e-9
        assert [level for level, _ in rigid_log] == [logging.INFO, logging.WARNING]
        assert rigid_log[0][1] == f"Registration residual: {rigid:.4g} in world units"
        assert rigid_log[1][1] == (f"Registration residual {rigid:.4g} exceeds a tenth of the spread of the fixed "
                                   f"keypoints ({spread:.4g}): PointsRigidScaling, which also fits a uniform scale, "
                                   "may fit better")
        assert [level for level, _ in scaled_log] == [logging.INFO]

    @pytest.mark.parametrize("method, prepare, message", [
        (Method.PointsAndPlanes, lambda f, m: f.pop("tibia"), None),
        (Method.PointsRigidScaling, lambda f, m: (f.pop("tibia"), m.pop("femur")), None),
        (Method.PointsAndPlanes, lambda f, m: (on_a_line(f), on_a_line(m)), None),
        (Method.RigidImages, lambda f, m: None,
         "Registration failed: no images with the same key in paired structures"),
        (Method.DeformableMeshRegistration, lambda f, m: f.pop("patella"),
         "Registration failed: no meshes with the same key in paired structures"),
    ], ids=["two points", "no paired points", "collinear", "no images", "no meshes"])
    def test_undetermined_registration_changes_nothing(self, error_log, method, prepare, message):
        fixed, moving = landmarks(), landmarks(motion(20, [1, 0, 0], [1, 2, 3]))
        prepare(fixed, moving)
        fixed_before, moving_before = state_of(fixed), state_of(moving)
        r = Registration(fixed, moving)
        r.registration_method = method
        r.compute()
        assert r.status != 0
        assert_same_state(state_of(fixed), fixed_before)
        assert_same_state(state_of(moving), moving_before)
        np.testing.assert_array_equal(r.p_transformation, np.eye(4))
        logged = messages(error_log)
        assert len(logged) == 1
        assert [r.levelno for r in error_log.records if r.name == LOGGER] == [logging.ERROR]
        if message is None:
            assert logged[0].startswith("Registration failed: ") and len(logged[0]) > 25
        else:
            assert logged[0] == message


def label_volume(m=np.eye(4), shape=(30, 34, 36), spacing=(1.0, 1.0, 1.2)):
    """An asymmetric pair of labels; voxel x of the result shows what lies at m · x."""
    z, y, x = np.indices(shape)
    points = np.stack([x, y, z], axis=-1) * np.asarray(spacing)
    p = apply(m, points.reshape(-1, 3)).reshape(points.shape) - np.asarray(spacing) * np.array(shape[::-1]) / 2
    labels = np.zeros(shape, np.uint8)
    labels[(p[..., 0] / 11) ** 2 + (p[..., 1] / 7) ** 2 + (p[..., 2] / 5) ** 2 <= 1] = 1
    labels[np.linalg.norm(p - [6, 8, 3], axis=-1) <= 4] = 2
    return orbitane.SharedImageSet(labels, spacing=spacing, modality=orbitane.Modality.LABEL)


class TestRigidImages:
    def test_recovers_motion_of_segmentation_masks(self):
        truth = motion(7, [0.3, 0.2, 1], [2.0, -1.5, 1.0], about=(18, 17, 18))
        fixed = anatomy.generic_asc_from_label_map(label_volume(), {1: "body", 2: "lobe"})
        moving = anatomy.generic_asc_from_label_map(label_volume(truth), {1: "body", 2: "lobe"})
        mask_before = moving.anatomical_structure("lobe").images[SEGMENTATION].matrix_to_world
        r = Registration(fixed, moving)
        r.registration_method = Method.RigidImages
        r.compute()
        assert r.status == 0
        found = r.p_transformation
        error = found[:3, :3] @ truth[:3, :3].T
        assert np.degrees(np.arccos(np.clip((np.trace(error) - 1) / 2, -1, 1))) < 1.0
        corners = np.array([[x, y, z] for x in (6, 30) for y in (6, 28) for z in (6, 30)], float)
        assert np.linalg.norm(apply(found, corners) - apply(truth, corners), axis=1).max() < 0.5
        np.testing.assert_allclose(moving.anatomical_structure("lobe").images[SEGMENTATION].matrix_to_world,
                                   found @ mask_before, atol=1e-9)


def closest_distances(points, vertices, faces, candidates=12):
    """Distance of each point to a triangle surface: exact point-triangle distances over the triangles
    whose centroids lie nearest (enough on a fine mesh)."""
    a, b, c = (vertices[faces[:, i]] for i in range(3))
    centroids = (a + b + c) / 3
    out = np.empty(len(points))
    for start in range(0, len(points), 256):
        p = points[start:start + 256]
        d2 = ((p[:, None, :] - centroids[None, :, :]) ** 2).sum(-1)
        near = np.argpartition(d2, candidates, axis=1)[:, :candidates]
        q = np.repeat(p, candidates, axis=0)
        ta, tb, tc = a[near].reshape(-1, 3), b[near].reshape(-1, 3), c[near].reshape(-1, 3)
        dist = np.linalg.norm(q - closest_on_triangles(q, ta, tb, tc), axis=1).reshape(len(p), candidates)
        out[start:start + 256] = dist.min(axis=1)
    return out


def closest_on_triangles(p, a, b, c):
    """Closest points on triangles (a, b, c) to points p, row by row (barycentric region tests)."""
    ab, ac, ap = b - a, c - a, p - a
    d1, d2 = (ab * ap).sum(1), (ac * ap).sum(1)
    bp = p - b
    d3, d4 = (ab * bp).sum(1), (ac * bp).sum(1)
    cp = p - c
    d5, d6 = (ab * cp).sum(1), (ac * cp).sum(1)
    va, vb, vc = d3 * d6 - d5 * d4, d5 * d2 - d1 * d6, d1 * d4 - d3 * d2
    denom = va + vb + vc
    with np.errstate(divide="ignore", invalid="ignore"):
        v, w = vb / denom, vc / denom
        result = a + ab * v[:, None] + ac * w[:, None]
        regions = [
            (vc <= 0) & (d1 >= 0) & (d3 <= 0), a + ab * (d1 / (d1 - d3))[:, None],
            (vb <= 0) & (d2 >= 0) & (d6 <= 0), a + ac * (d2 / (d2 - d6))[:, None],
            (va <= 0) & (d4 - d3 >= 0) & (d5 - d6 >= 0),
            b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)))[:, None],
            (d6 >= 0) & (d5 <= d6), c, (d3 >= 0) & (d4 <= d3), b, (d1 <= 0) & (d2 <= 0), a,
        ]
    for mask, value in zip(regions[0::2], regions[1::2]):
        result = np.where(mask[:, None], value, result)
    return result


class TestDeformable:
    @pytest.fixture
    def ellipsoid(self):
        z, y, x = np.indices((24, 26, 32))
        inside = ((x - 15.5) / 12) ** 2 + ((y - 12.5) / 9) ** 2 + ((z - 11.5) / 8) ** 2 <= 1
        image = orbitane.SharedImageSet(inside.astype(np.uint8), modality=orbitane.Modality.LABEL)
        return anatomy.generic_asc_from_label_map(image, {1: "organ"})

    def test_bulge_is_flattened_onto_the_fixed_surface(self, ellipsoid):
        fixed = ellipsoid
        moving = fixed.clone()
        surface = fixed.anatomical_structure("organ").meshes[SEGMENTATION]
        vertices, faces = surface.vertices, surface.faces
        top = np.array([15.5, 12.5, 19.5])
        bump = 3.5 * np.exp(-((vertices - top) ** 2).sum(1) / (2 * 3.5 ** 2))
        bulged = orbitane.Mesh(vertices + np.outer(bump, [0, 0, 1]) - [50, 0, 0], faces)
        bulged.matrix_to_world = motion(0, [0, 0, 1], [50, 0, 0])
        moving.anatomical_structure("organ").meshes[SEGMENTATION] = bulged
        before = closest_distances(vertices + np.outer(bump, [0, 0, 1]), vertices, faces).mean()
        assert before > 0.05

        r = Registration(fixed, moving)
        r.registration_method = Method.DeformableMeshRegistration
        r.compute()
        assert r.status == 0
        np.testing.assert_array_equal(r.p_transformation, np.eye(4))
        fitted = moving.anatomical_structure("organ").meshes[SEGMENTATION]
        np.testing.assert_array_equal(fitted.faces, faces)
        np.testing.assert_allclose(fitted.matrix_to_world, bulged.matrix_to_world)
        world = apply(fitted.matrix_to_world, fitted.vertices)
        after = closest_distances(world, vertices, faces).mean()
        assert after <= 0.2 * before
        edges = np.concatenate([faces[:, [0, 1]], faces[:, [1, 2]], faces[:, [2, 0]]])
        lengths = np.linalg.norm(world[edges[:, 0]] - world[edges[:, 1]], axis=1)
        assert lengths.min() > 0.05 and lengths.max() < 3.0

    def test_progress_rises_mesh_by_mesh_while_it_runs(self):
        z, y, x = np.indices((24, 26, 44))
        labels = (((x - 12) / 9) ** 2 + ((y - 12.5) / 8) ** 2 + ((z - 11.5) / 7) ** 2 <= 1).astype(np.uint8)
        labels[((x - 33) / 5) ** 2 + ((y - 12.5) / 5) ** 2 + ((z - 11.5) / 5) ** 2 <= 1] = 2
        image = orbitane.SharedImageSet(labels, modality=orbitane.Modality.LABEL)
        fixed = anatomy.generic_asc_from_label_map(image, {1: "large", 2: "small"})
        moving = fixed.clone()
        sizes = []
        for name in ("large", "small"):
            mesh = fixed.anatomical_structure(name).meshes[SEGMENTATION]
            moving.anatomical_structure(name).meshes[SEGMENTATION] = orbitane.Mesh(mesh.vertices + [0.8, -0.5, 0.3],
                                                                                 mesh.faces)
            sizes.append(mesh.num_vertices)
        r = Registration(fixed, moving)
        r.registration_method = Method.DeformableMeshRegistration
        progress, unchanged = [], []
        # while it runs, nothing is written yet: the fitted meshes land together at the end
        r.progress.connect(lambda f: (progress.append(f), unchanged.append(
            np.array_equal(moving.anatomical_structure("large").meshes[SEGMENTATION].vertices,
                           fixed.anatomical_structure("large").meshes[SEGMENTATION].vertices + [0.8, -0.5, 0.3]))))
        r.compute()
        assert r.status == 0
        assert len(progress) > 10 and all(unchanged)
        assert progress == sorted(progress) and 0 < progress[0] and progress[-1] == 1.0
        # each mesh's share is its share of the vertices, the larger mesh first
        assert sizes[0] > sizes[1]
        assert any(p == pytest.approx(sizes[0] / sum(sizes), abs=1e-12) for p in progress)
