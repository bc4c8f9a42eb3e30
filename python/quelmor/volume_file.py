"""Where `quelmor recon` writes a volume, a few slices at a time, so that a run
killed at any moment leaves what it finished and nothing that says more.

HDF5 (any other OUTPUT): the dataset /volume (rows, N, N), chunked by slice,
and /rows_done, one byte a row, set only once that row's slice is written
and flushed. Both are laid out in full when the file is made (space
allocated at once, no compression), so later writes change slice data and
flags only, never the file's structure. The run's parameters are the
file's attributes; --resume takes a file only when they match.

A folder of TIFF slices (OUTPUT ending in /): slice_RRRRR.tif per row, each
written under a temporary name and renamed when complete, and the run's
parameters in quelmor-recon.json.
"""

from __future__ import annotations

import json
import os
import shutil

import numpy as np

from .scan import ScanError

PARAMETERS_FILE = "quelmor-recon.json"


class VolumeError(ScanError):
    """An output that cannot be written or resumed, said in one line."""


def _same(stored, parameters):
    return {k: stored.get(k) for k in parameters} == parameters


class HDF5Volume:
    def __init__(self, path, rows, size, dtype, parameters, resume):
        import h5py
        self.path = path
        existing = os.path.exists(path)
        if resume and existing:
            try:
                self.file = h5py.File(path, "r+")
            except OSError as error:
                raise VolumeError(f"{path}: cannot be opened to resume ({error})") from None
            stored = json.loads(self.file.attrs.get("parameters", "{}"))
            if "volume" not in self.file or "rows_done" not in self.file or not _same(stored, parameters):
                self.file.close()
                raise VolumeError(f"{path} was written by a run with other parameters or "
                                  "is not a quelmor volume; --overwrite replaces it")
        else:
            try:
                self.file = h5py.File(path, "w")
            except OSError as error:
                raise VolumeError(f"{path}: cannot be written ({error})") from None
            self.file.create_dataset("volume", (rows, size, size), dtype, chunks=(1, size, size),
                                     fillvalue=0)
            self.file.create_dataset("rows_done", (rows,), np.uint8, fillvalue=0)
            for name in ("volume", "rows_done"):
                self._allocate(self.file[name])
            self.file.attrs["parameters"] = json.dumps(parameters, sort_keys=True)
            for key, value in parameters.items():
                self.file.attrs[key] = "" if value is None else value
            self.file.flush()
        self.volume, self.done = self.file["volume"], self.file["rows_done"]

    @staticmethod
    def _allocate(dataset):
        # Writing every chunk once lays the whole dataset out now.
        if dataset.ndim == 1:
            dataset[...] = 0
        else:
            for row in range(dataset.shape[0]):
                dataset[row] = 0

    def rows_done(self):
        return np.asarray(self.done[...], dtype=bool)

    def write(self, first, images):
        self.volume[first:first + len(images)] = images
        self.file.flush()
        self.done[first:first + len(images)] = 1
        self.file.flush()

    def close(self):
        self.file.close()


class TiffFolder:
    def __init__(self, path, rows, size, dtype, parameters, resume):
        try:
            import tifffile
        except ImportError:
            raise VolumeError("TIFF output needs tifffile (Debian: python3-tifffile)") from None
        self.tifffile, self.path, self.rows = tifffile, path, rows
        record = os.path.join(path, PARAMETERS_FILE)
        if resume and os.path.exists(record):
            with open(record) as file:
                if not _same(json.load(file), parameters):
                    raise VolumeError(f"{path} holds slices of a run with other parameters; "
                                      "--overwrite replaces them")
            return
        try:
            os.makedirs(path, exist_ok=True)
            for row in range(rows):
                self._remove(self._slice(row))
            with open(record + ".part", "w") as file:
                json.dump(parameters, file, sort_keys=True, indent=1)
            os.replace(record + ".part", record)
        except OSError as error:
            raise VolumeError(f"{path}: cannot be written ({error.strerror})") from None

    @staticmethod
    def _remove(path):
        if os.path.exists(path):
            os.remove(path)

    def _slice(self, row):
        return os.path.join(self.path, f"slice_{row:05d}.tif")

    def rows_done(self):
        return np.array([os.path.exists(self._slice(row)) for row in range(self.rows)])

    def write(self, first, images):
        for offset, image in enumerate(images):
            target = self._slice(first + offset)
            self.tifffile.imwrite(target + ".part", image, photometric="minisblack")
            os.replace(target + ".part", target)

    def close(self):
        pass


def is_folder(output):
    return output.endswith("/")


def existing_output(output):
    """Whether a run would replace something already there."""
    if is_folder(output):
        return os.path.isdir(output) and any(
            name == PARAMETERS_FILE or name.startswith("slice_") for name in os.listdir(output))
    return os.path.exists(output)


def remove_output(output):
    if is_folder(output):
        for name in os.listdir(output):
            if name == PARAMETERS_FILE or name.startswith("slice_"):
                os.remove(os.path.join(output, name))
    elif os.path.isdir(output):
        shutil.rmtree(output)
    else:
        os.remove(output)


def open_volume(output, rows, size, dtype, parameters, resume):
    kind = TiffFolder if is_folder(output) else HDF5Volume
    return kind(output, rows, size, dtype, parameters, resume)
