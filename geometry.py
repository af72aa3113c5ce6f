import h5py
for name in ("small.h5", "old.h5"):
    with h5py.File(name, "r") as f:
        a = f["events"].attrs
        print(name, int(a["width"]), int(a["height"]), a["width"].dtype)
