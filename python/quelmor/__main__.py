"""python3 -m quelmor: the quelmor command (quelmor.cli)."""
import sys

from .cli import main

sys.exit(main())
