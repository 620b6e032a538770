import sys

from orvik.cli import main

sys.exit(main())
