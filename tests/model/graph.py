"""The graph store: nodes in order of first appearance, adjacency lists
threaded through the edge array, newest edge first."""

END = 0xFFFFFFFF


class Graph:
    def __init__(self, edges):
        self.index = {}  # name -> node number
        self.names = []
        self.first_out = []
        self.first_in = []
        self.edges = []  # [next_out, next_in, source, target]
        for source, target in edges:
            s = self._intern(source)
            t = self._intern(target)
            k = len(self.edges)
            self.edges.append([self.first_out[s], self.first_in[t], s, t])
            self.first_out[s] = k
            self.first_in[t] = k

    def _intern(self, name):
        if name not in self.index:
            self.index[name] = len(self.names)
            self.names.append(name)
            self.first_out.append(END)
            self.first_in.append(END)
        return self.index[name]

    @property
    def n(self):
        return len(self.names)

    def successors(self, v):
        e = self.first_out[v]
        while e < len(self.edges):
            yield self.edges[e][3]
            e = self.edges[e][0]

    def predecessors(self, v):
        e = self.first_in[v]
        while e < len(self.edges):
            yield self.edges[e][2]
            e = self.edges[e][1]

    def out_degree(self, v):
        return sum(1 for _ in self.successors(v))
