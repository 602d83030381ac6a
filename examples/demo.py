"""orbitane.anatomy from label map to shape model, on data the demo makes itself.

1. A multi-label volume becomes a collection of anatomical structures.
2. A moved copy of the collection is registered back onto it.
3. A linear shape model is built from a directory of jittered copies.
4. The collection is saved as an .orb file and opened again.
5. A picture of the meshes and keypoints is written as a PNG file.
6. The label map is saved as a NIfTI file and the command line turns it into files again.
7. The styled collection becomes an interactive page (python -m orbitane view), and headless
   Chromium takes its picture.

Run it with tools/demo, which builds the project first. The output lands in demo-output/.
"""

import math
import os
import subprocess
import sys
import tempfile

import numpy as np

import orbitane
import orbitane.anatomy as anatomy

OUTPUT = os.path.join(os.getcwd(), "demo-output")
SPACING = (0.8, 0.8, 1.5)

# label value -> (identifier, centre in voxels (x, y, z), semi-axes in voxels)
ORGANS = {
    1: (orbitane.keys.liver.key, (34, 40, 24), (20, 14, 12)),
    2: (orbitane.keys.spleen.key, (76, 38, 22), (9, 12, 9)),
    3: (orbitane.keys.left_kidney.key, (70, 66, 18), (7, 10, 9)),
    4: (orbitane.keys.right_kidney.key, (30, 68, 18), (7, 10, 9)),
    5: (orbitane.keys.stomach.key, (64, 28, 30), (10, 8, 7)),
}


def make_label_volume():
    z, y, x = np.mgrid[0:48, 0:96, 0:104]
    labels = np.zeros(z.shape, dtype=np.uint8)
    for value, (_, centre, axes) in ORGANS.items():
        inside = sum(((c - m) / a) ** 2 for c, m, a in zip((x, y, z), centre, axes)) <= 1.0
        labels[inside & (labels == 0)] = value
    return orbitane.SharedImageSet(labels, spacing=SPACING, modality=orbitane.Modality.LABEL)


def heading(text):
    print(f"\n{text}\n{'-' * len(text)}")


def describe_collection(asc):
    heading(f"1. Label map to collection: {len(asc)} structures")
    print(f"{'structure':<24}{'voxels':>8}{'volume mm3':>12}   centroid (mm)")
    for identifier in asc.anatomical_structure_identifiers():
        s = asc.anatomical_structure(identifier)
        attributes = s.images.attributes["Orbitane.Segmentation"]
        centroid = s.keypoints2["Orbitane.Position"]
        mesh = s.meshes["Orbitane.Segmentation"]
        print(f"{identifier:<24}{attributes['voxelCount']:>8}{attributes['volume']:>12.1f}   "
              f"({centroid[0]:6.1f}, {centroid[1]:6.1f}, {centroid[2]:6.1f})  {mesh.num_faces} triangles")


def rigid_motion(angles_deg, translation):
    ax, ay, az = (math.radians(a) for a in angles_deg)
    rx = np.array([[1, 0, 0], [0, math.cos(ax), -math.sin(ax)], [0, math.sin(ax), math.cos(ax)]])
    ry = np.array([[math.cos(ay), 0, math.sin(ay)], [0, 1, 0], [-math.sin(ay), 0, math.cos(ay)]])
    rz = np.array([[math.cos(az), -math.sin(az), 0], [math.sin(az), math.cos(az), 0], [0, 0, 1]])
    m = np.eye(4)
    m[:3, :3] = rz @ ry @ rx
    m[:3, 3] = translation
    return m


def moved_copy(asc, motion):
    copy = asc.clone()
    for i in range(len(copy)):
        s = copy.anatomical_structure(i)
        s.matrix_to_world = motion @ s.matrix_to_world  # the contents move with the frame
    return copy


def keypoint_residual(fixed, moving):
    distances = []
    for identifier in fixed.anatomical_structure_identifiers():
        f = fixed.anatomical_structure(identifier).keypoints2
        m = moving.anatomical_structure(identifier).keypoints2
        distances += [np.linalg.norm(f[k] - m[k]) for k in f.keys()]
    return float(np.mean(distances))


def register_moved_copy(asc):
    heading("2. Registration of a moved copy")
    motion = rigid_motion((8, -5, 12), (6.0, -4.0, 3.0))
    moving = moved_copy(asc, motion)
    print(f"mean keypoint distance before: {keypoint_residual(asc, moving):.3f} mm")
    registration = anatomy.ASCRegistration(fixed=asc, moving=moving)
    registration.registration_method = anatomy.ASCRegistration.RegistrationMethod.PointsAndPlanes
    registration.compute()
    recovered = registration.p_transformation
    print(f"status {registration.status}; mean keypoint distance after: {keypoint_residual(asc, moving):.2e} mm")
    print(f"largest error of the recovered inverse motion: {np.abs(recovered @ motion - np.eye(4)).max():.2e}")


def build_shape_model(asc, directory):
    heading("3. Linear shape model from jittered copies")
    rng = np.random.default_rng(7)
    for i in range(12):
        copy = moved_copy(asc, rigid_motion(rng.normal(0, 4, 3), rng.normal(0, 5, 3)))
        # one smooth shape change per copy: the liver grows or shrinks along x
        liver = copy.anatomical_structure(orbitane.keys.liver.key)
        stretch = 1.0 + 0.08 * rng.normal()
        centre = liver.keypoints2["Orbitane.Position"]
        for key in liver.keypoints2.keys():
            p = liver.keypoints2[key]
            p[0] = centre[0] + stretch * (p[0] - centre[0])
            liver.keypoints2[key] = p + rng.normal(0, 0.2, 3)
        orbitane.save(copy, os.path.join(directory, f"case_{i:02d}.orb"))
    generator = anatomy.GenerateLinearShapeModel(mean_shape=asc)
    generator.p_inputDirectory = directory
    generator.p_updateMeanShape = True
    results = generator()
    model = results["shape_model"].anatomical_structure("Orbitane.ShapeModel")
    attributes = model.pointclouds.attributes
    modes = [k for k in model.pointclouds.keys() if k.startswith("Orbitane.ShapeModel.Mode")]
    modes.sort(key=lambda k: int(k.rsplit("Mode", 1)[1]))
    variances = [attributes[k]["variance"] for k in modes]
    total = sum(variances)
    print(f"{len(modes)} modes from {attributes['Orbitane.ShapeModel.Mean']['numShapes']} shapes; "
          f"results: {list(results)}")
    for i, v in enumerate(variances[:4]):
        print(f"  mode {i}: variance {v:10.4f} mm2 ({100 * v / total:5.1f} %)")


def save_and_reopen(asc):
    heading("4. Saving and reopening")
    path = os.path.join(OUTPUT, "abdomen.orb")
    orbitane.save(asc, path)
    reopened = orbitane.open(path)
    same = all(np.array_equal(asc.anatomical_structure(i).keypoints2.asdict()[k],
                              reopened.anatomical_structure(i).keypoints2.asdict()[k])
               for i in range(len(asc)) for k in asc.anatomical_structure(i).keypoints2.keys())
    print(f"{path}: {os.path.getsize(path)} bytes")
    print(f"reopened as {type(reopened).__name__}: {reopened!r}; keypoints identical: {same}")
    return reopened


def style_colours(asc):
    """A style sheet with one colour rule per structure; the picture uses the same colours."""
    options = anatomy.ASCDisplayOptions()
    sheet = anatomy.StyleSheet("organs")
    colours = {}
    palette = [(0.80, 0.35, 0.30), (0.55, 0.30, 0.65), (0.95, 0.75, 0.30), (0.35, 0.65, 0.40), (0.30, 0.55, 0.85)]
    for identifier, rgb in zip(asc.anatomical_structure_identifiers(), palette):
        colours[identifier] = rgb
        selector = anatomy.Selector.parse(f'meshes#"{identifier}"')

        def declare(declaration, rgb=rgb):
            declaration[anatomy.StyleProperty.COLOR] = np.array(rgb)

        sheet.append_or_modify(selector, declare)
    options.add_style_sheet(sheet, None)
    asc.components.add(options)
    print(f"display options: {asc.components.asc_display_options.get_or_append_style_sheet('organs', None)!r}")
    return colours


def draw(asc, colours, path):
    heading("5. Picture")
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from mpl_toolkits.mplot3d.art3d import Poly3DCollection

    figure = plt.figure(figsize=(8, 6), dpi=110)
    axes = figure.add_subplot(projection="3d")
    for identifier in asc.anatomical_structure_identifiers():
        s = asc.anatomical_structure(identifier)
        mesh = s.meshes["Orbitane.Segmentation"]
        triangles = mesh.vertices[mesh.faces]
        colour = colours.get(identifier, (0.6, 0.6, 0.6))
        axes.add_collection3d(Poly3DCollection(triangles, facecolor=colour, edgecolor="none", alpha=0.55))
        points = np.array(list(s.keypoints2.values()))
        axes.scatter(points[:, 0], points[:, 1], points[:, 2], color=colour, s=8, depthshade=False)
        centre = s.keypoints2["Orbitane.Position"]
        axes.text(*centre, identifier.split(".")[-1], fontsize=8)
    axes.set_xlim(0, 104 * SPACING[0]); axes.set_ylim(0, 96 * SPACING[1]); axes.set_zlim(0, 48 * SPACING[2])
    axes.set_box_aspect((104 * SPACING[0], 96 * SPACING[1], 48 * SPACING[2]))
    axes.set_xlabel("x (mm)"); axes.set_ylabel("y (mm)"); axes.set_zlabel("z (mm)")
    axes.set_title("Structures from a label map: surfaces, centroids and bounding boxes")
    figure.tight_layout()
    figure.savefig(path)
    print(f"written: {path}")


def command_line_on_nifti(label_map, colours):
    """The label map as a NIfTI file, then `python -m orbitane labelmap` on it with a colour table."""
    heading("6. Files and the command line")
    nifti = os.path.join(OUTPUT, "abdomen.nii.gz")
    orbitane.save(label_map, nifti)
    print(f"written: {nifti}")
    table = os.path.join(OUTPUT, "abdomen-labels.txt")
    with open(table, "w") as file:
        file.write("# value name r g b\n")
        for value, (identifier, _, _) in ORGANS.items():
            rgb = colours.get(identifier, (0.6, 0.6, 0.6))
            file.write(f"{value} {identifier} {' '.join(str(round(c * 255)) for c in rgb)}\n")
    command = [sys.executable, "-m", "orbitane", "labelmap", nifti, os.path.join(OUTPUT, "abdomen-files"),
               "--labels", table]
    print("$ python -m orbitane labelmap demo-output/abdomen.nii.gz demo-output/abdomen-files "
          "--labels demo-output/abdomen-labels.txt")
    done = subprocess.run(command, capture_output=True, text=True)
    print(done.stdout.rstrip() or done.stderr.rstrip())
    if done.returncode != 0:
        raise SystemExit(f"the command line failed with exit status {done.returncode}")


def interactive_page(asc):
    """The styled collection as a page through the command line, and the page's picture."""
    heading("7. An interactive page")
    sheet = asc.components.asc_display_options.get_or_append_style_sheet("labels", None)

    def label(declaration):
        declaration[anatomy.StyleProperty.SHOW_LABEL_TEXT] = True
        declaration[anatomy.StyleProperty.POINT_SIZE] = 3.0

    sheet.append_or_modify(anatomy.Selector.parse('keypoints@"Orbitane.Position"'), label)
    styled = os.path.join(OUTPUT, "abdomen-styled.orb")
    orbitane.save(asc, styled)
    page = os.path.join(OUTPUT, "abdomen.html")
    print("$ python -m orbitane view demo-output/abdomen-styled.orb -o demo-output/abdomen.html")
    done = subprocess.run([sys.executable, "-m", "orbitane", "view", styled, "-o", page, "--title", "abdomen"],
                          capture_output=True, text=True)
    print(done.stdout.rstrip() or done.stderr.rstrip())
    if done.returncode != 0:
        raise SystemExit(f"the command line failed with exit status {done.returncode}")
    from orbitane.view import browser
    if browser.find_chromium() is None:
        print("no Chromium here: the page's picture is not taken")
        return
    picture = os.path.join(OUTPUT, "abdomen.png")
    with browser.Browser(width=1000, height=620) as b:
        b.open(page)
        milliseconds = browser.wait_for_first_frame(b)
        with open(picture, "wb") as file:
            file.write(b.screenshot())
    print(f"first frame after {milliseconds:.0f} ms; written: {picture}")


def main():
    os.makedirs(OUTPUT, exist_ok=True)
    mapping = {value: identifier for value, (identifier, _, _) in ORGANS.items()}
    label_map = make_label_volume()
    asc = anatomy.generic_asc_from_label_map(label_map, mapping)
    describe_collection(asc)
    register_moved_copy(asc)
    with tempfile.TemporaryDirectory() as directory:
        build_shape_model(asc, directory)
    reopened = save_and_reopen(asc)
    colours = style_colours(reopened)
    draw(reopened, colours, os.path.join(OUTPUT, "anatomy.png"))
    command_line_on_nifti(label_map, colours)
    interactive_page(reopened)
    return 0


if __name__ == "__main__":
    sys.exit(main())
