import sys

from bench.suite import main

sys.exit(main())
