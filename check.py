import h5py, numpy, sys
expected = numpy.loadtxt("expected.txt", dtype=numpy.int64)
with h5py.File("export.h5", "r") as f:
    g = f["events"]
    assert g["x"].dtype == numpy.uint16 and g["y"].dtype == numpy.uint16
    assert g["p"].dtype == numpy.uint8 and g["t"].dtype == numpy.int64
    assert g["t"].scaleoffset == 0 and g["t"].chunks is not None  # lossless, packed
    for i, name in enumerate("xypt"):
        assert (g[name][:] == expected[:, i]).all(), name
    assert g.attrs["design"] == "aer640_test", g.attrs["design"]
    assert g.attrs["evt"] == "2.0"
    # Each array says what it holds, in a unit a reader can take as it is.
    units = {name: g[name].attrs["units"] for name in "xypt"}
    assert units == {"x": "pixels", "y": "pixels", "p": "none", "t": "\u00b5s"}, units
    assert "1 = ON" in g["p"].attrs["description"], g["p"].attrs["description"]
    for name in "xypt":
        assert len(g[name].attrs["description"]) > 10, name
print("ok", len(expected))
